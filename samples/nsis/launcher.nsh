; Runs one program under an administrator's account through launcher.exe.
; !include it into a Unicode installer and call it from a section:
;
;   ${RunAsAdministrator} "$PLUGINSDIR\launcher.exe" "$PLUGINSDIR\program.exe" \
;       `/quiet "C:\Some Folder\\"` "Dialog caption" "Message after a refused blank password"
;   Pop $0
;
; It sets the dialog's caption and its empty-password message in this
; process (the launcher reads both from the environment it inherits), starts
; the launcher in the Windows folder, waits for it and leaves the launcher's
; exit code on the stack. If the launcher cannot be started at all, it leaves
; the Windows error of CreateProcessW there instead and sets the error flag
; (test it with ${If} ${Errors}); otherwise the error flag is clear.
;
; The arguments are appended verbatim after the quoted program, so quote them
; as on a Windows command line. A backtick cannot appear in them.
;
; Why not ExecWait: it puts the launcher's own path first on the command
; line, and the launcher wants the verb there ("Invalid argument (command
; type)"). Here the launcher is the application name, and the command line
; is `execute <our process id> "<program>" <arguments>`.
;
; Call it from a section: sections run on a worker thread while the
; installer's window thread keeps pumping messages, so the window that owns
; the dialog (and the dialog with it) stays responsive during the wait. A
; page callback runs on that window's own thread and would block it.
;
; The program inherits the Windows folder as its current directory, which
; the other account can open. That account must also be able to read the
; program: $PLUGINSDIR lies in the invoking user's temporary folder.

!ifndef LAUNCHER_NSH_INCLUDED
!define LAUNCHER_NSH_INCLUDED

!include LogicLib.nsh

; STARTUPINFOW's size for this installer's word size.
!if ${NSIS_PTR_SIZE} > 4
  !define LAUNCHER_STARTUPINFO_SIZE 104
!else
  !define LAUNCHER_STARTUPINFO_SIZE 68
!endif

!macro RunAsAdministrator _LAUNCHER _PROGRAM _ARGUMENTS _CAPTION _EMPTY_PASSWORD_MESSAGE
  Push `${_EMPTY_PASSWORD_MESSAGE}`
  Push `${_CAPTION}`
  Push `${_ARGUMENTS}`
  Push `${_PROGRAM}`
  Push `${_LAUNCHER}`
  Call RunAsAdministrator
!macroend
!define RunAsAdministrator `!insertmacro RunAsAdministrator`

Function RunAsAdministrator
  ; Take the five parameters into $0-$4 and keep the caller's registers.
  Exch $0
  Exch
  Exch $1
  Exch 2
  Exch $2
  Exch 3
  Exch $3
  Exch 4
  Exch $4
  Push $5
  Push $6
  Push $7
  Push $8
  Push $9
  ClearErrors

  ; The launcher reads the dialog's texts from the environment it inherits.
  System::Call 'kernel32::SetEnvironmentVariableW(w "AuthDialogCaption", w r3) i'
  System::Call 'kernel32::SetEnvironmentVariableW(w "EmptyPasswordRestrictionMessage", w r4) i'

  ; Our process id lets the launcher find our window and make it the
  ; dialog's owner.
  System::Call 'kernel32::GetCurrentProcessId() i .r5'
  StrCpy $5 `execute $5 "$1" $2`

  System::Alloc ${LAUNCHER_STARTUPINFO_SIZE}
  Pop $6
  System::Call '*$6(i ${LAUNCHER_STARTUPINFO_SIZE})'
  System::Call '*(p, p, i, i) p .r7'
  ; The launcher's path is the application name; the command line starts
  ; with the verb, not with the launcher's path.
  System::Call 'kernel32::CreateProcessW(w r0, w r5, p 0, p 0, i 0, i 0, p 0, w "$WINDIR", p r6, p r7) i .r8 ?e'
  Pop $9
  System::Free $6
  ${If} $8 = 0
    System::Free $7
    StrCpy $5 $9
    SetErrors
  ${Else}
    System::Call '*$7(p .r8, p .r9, i, i)'
    System::Free $7
    System::Call 'kernel32::CloseHandle(p r9)'
    System::Call 'kernel32::WaitForSingleObject(p r8, i -1) i'
    System::Call 'kernel32::GetExitCodeProcess(p r8, *i .r5) i'
    System::Call 'kernel32::CloseHandle(p r8)'
    ClearErrors
  ${EndIf}

  ; Leave the result ($5) on the stack and restore the caller's registers;
  ; none of this touches the error flag.
  Pop $9
  Pop $8
  Pop $7
  Pop $6
  Exch $5
  Exch
  Pop $4
  Exch
  Pop $0
  Exch
  Pop $1
  Exch
  Pop $2
  Exch
  Pop $3
FunctionEnd

!endif
