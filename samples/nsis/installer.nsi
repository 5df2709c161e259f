; An installer that runs one program under another account through launcher.exe.
; Copy it, with launcher.nsh beside it, into your own build and set what it
; embeds with makensis defines:
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
; The installer extracts the launcher and the program into a folder of their
; own that the other account can read (see launcher.nsh), runs the program
; and removes the folder. Its exit code is the launcher's: 0 when the program
; ran and ended with 0, 1223 when the user cancelled the credential dialog,
; 1602 when the program itself reported a user exit, anything else after the
; launcher has shown why; or the Windows error that stopped it making the
; folder or starting the launcher.

Unicode true
!include LogicLib.nsh
; The launch itself, from launcher.nsh beside this script.
!addincludedir "${__FILEDIR__}"
!include launcher.nsh

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

!define ERROR_CANCELLED 1223
!define ERROR_INSTALL_USEREXIT 1602

Name "Setup"
OutFile "${OUTFILE}"
RequestExecutionLevel user
ShowInstDetails show
AutoCloseWindow true

Page instfiles

Section "Run the program under an administrator account"
  ; The launcher and the program go into a folder of their own that the other
  ; account can read (see launcher.nsh): not into $PLUGINSDIR itself.
  ${CreateLauncherFolder}
  Pop $7
  ${If} ${Errors}
    SetErrorLevel $7
    MessageBox MB_ICONSTOP|MB_OK "Could not create a folder for the launcher (error $7)." /SD IDOK
    Abort
  ${EndIf}
  File "/oname=$7\launcher.exe" "${LAUNCHER}"
  File "/oname=$7\program.exe" "${PROGRAM}"

  ; Sections run on a worker thread while the installer's window thread keeps
  ; pumping messages, so waiting here leaves that window (and the dialog it
  ; owns) responsive.
  ${RunAsAdministrator} "$7\launcher.exe" "$7\program.exe" `${PROGRAM_ARGS}` \
      "Administrator rights are needed to continue" "This account needs a password."
  Pop $8
  ${If} ${Errors}
    SetErrorLevel $8
    MessageBox MB_ICONSTOP|MB_OK "Could not start the launcher (error $8)." /SD IDOK
    ; Ending the installer removes $PLUGINSDIR with the folder in it.
    Abort
  ${EndIf}
  SetErrorLevel $8
  ; The launcher has waited for the program: neither file is in use any more.
  RMDir /r $7

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
