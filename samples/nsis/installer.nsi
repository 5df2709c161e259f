; An installer that runs one program under another account through launcher.exe.
; Copy it into your own build and set what it embeds with makensis defines:
;
;   makensis -NOCD -DLAUNCHER=dist/launcher.exe -DPROGRAM=build/setup-part.exe \
;       '-DPROGRAM_ARGS=/quiet "C:\Some Folder\\"' -DOUTFILE=build/installer.exe installer.nsi
;
; LAUNCHER      launcher.exe to embed
; PROGRAM       the program to run under the other account
; PROGRAM_ARGS  its arguments, quoted as on a Windows command line (a literal
;               $ is written $$, and a backtick cannot appear)
; OUTFILE       the installer to write
;
; Without -NOCD, makensis reads relative paths from this script's folder.
;
; The installer's exit code is the launcher's: 0 when the program ran and
; ended with 0, 1223 when the user cancelled the credential dialog, 1602 when
; the program itself reported a user exit, anything else after the launcher
; has shown why.

Unicode true
!include LogicLib.nsh

!ifndef LAUNCHER
  !define LAUNCHER "launcher.exe"
!endif
!ifndef PROGRAM
  !define PROGRAM "setup-part.exe"
!endif
!ifndef PROGRAM_ARGS
  !define PROGRAM_ARGS "/quiet"
!endif
!ifndef OUTFILE
  !define OUTFILE "installer.exe"
!endif

; Sizes of STARTUPINFOW and PROCESS_INFORMATION for this installer's word size.
!if ${NSIS_PTR_SIZE} > 4
  !define STARTUPINFO_SIZE 104
!else
  !define STARTUPINFO_SIZE 68
!endif

!define ERROR_CANCELLED 1223
!define ERROR_INSTALL_USEREXIT 1602

Name "Setup"
OutFile "${OUTFILE}"
RequestExecutionLevel user
ShowInstDetails show
AutoCloseWindow true

Page instfiles

Section "Run the program under an administrator account"
  InitPluginsDir
  File "/oname=$PLUGINSDIR\launcher.exe" "${LAUNCHER}"
  File "/oname=$PLUGINSDIR\program.exe" "${PROGRAM}"

  ; The launcher reads the dialog's texts from the environment it inherits.
  System::Call 'kernel32::SetEnvironmentVariableW(w "AuthDialogCaption", w "Administrator rights are needed to continue") i'
  System::Call 'kernel32::SetEnvironmentVariableW(w "EmptyPasswordRestrictionMessage", w "This account needs a password.") i'

  ; Our process id lets the launcher find our window and make it the
  ; dialog's owner. Sections run on a worker thread while the installer's
  ; window thread keeps pumping messages, so waiting here leaves that window
  ; (and the dialog it owns) responsive.
  System::Call 'kernel32::GetCurrentProcessId() i .r0'
  StrCpy $1 `execute $0 "$PLUGINSDIR\program.exe" ${PROGRAM_ARGS}`

  System::Alloc ${STARTUPINFO_SIZE}
  Pop $2
  System::Call '*$2(i ${STARTUPINFO_SIZE})'
  System::Call '*(p, p, i, i) p .r3'
  ; The launcher's path is the application name; the command line starts
  ; with the verb, not with the launcher's path. The program inherits the
  ; launcher's current directory, which the other account must be able to
  ; open: the Windows folder rather than a folder of the invoking user.
  ; $PLUGINSDIR itself lies in the invoking user's temporary folder; the other
  ; account must be able to read the program there too, or extract it
  ; elsewhere.
  System::Call 'kernel32::CreateProcessW(w "$PLUGINSDIR\launcher.exe", w r1, p 0, p 0, i 0, i 0, p 0, w "$WINDIR", p r2, p r3) i .r4 ?e'
  Pop $5
  System::Free $2
  ${If} $4 = 0
    System::Free $3
    SetErrorLevel $5
    MessageBox MB_ICONSTOP|MB_OK "Could not start the launcher (error $5)." /SD IDOK
    Abort
  ${EndIf}

  System::Call '*$3(p .r6, p .r7, i, i)'
  System::Free $3
  System::Call 'kernel32::CloseHandle(p r7)'
  System::Call 'kernel32::WaitForSingleObject(p r6, i -1) i'
  System::Call 'kernel32::GetExitCodeProcess(p r6, *i .r8) i'
  System::Call 'kernel32::CloseHandle(p r6)'
  SetErrorLevel $8

  ${If} $8 = 0
    DetailPrint "The program finished."
  ${ElseIf} $8 = ${ERROR_CANCELLED}
    ; The user closed the dialog: stop without a message.
    Quit
  ${ElseIf} $8 = ${ERROR_INSTALL_USEREXIT}
    ; The program's own "user exit": the user stopped it there.
    Quit
  ${Else}
    ; The launcher has already shown what went wrong.
    Abort "The program could not be run (error $8)."
  ${EndIf}
SectionEnd
