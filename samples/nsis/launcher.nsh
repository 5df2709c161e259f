; Runs one program under an administrator's account through launcher.exe.
; !include it into a Unicode installer and call it from a section:
;
;   ${CreateLauncherFolder}
;   Pop $0
;   File "/oname=$0\launcher.exe" "launcher.exe"
;   File "/oname=$0\program.exe" "setup-part.exe"
;   ${RunAsAdministrator} "$0\launcher.exe" "$0\program.exe" \
;       `/quiet "C:\Some Folder\\"` "Dialog caption" "Message after a refused blank password"
;   Pop $1
;   RMDir /r $0
;
; ${CreateLauncherFolder} makes a new folder in $PLUGINSDIR that the other
; account can read, and leaves its path on the stack. If it cannot, it
; leaves the Windows error of the call that failed there instead and sets
; the error flag; otherwise the error flag is clear. The installer removes
; the folder with $PLUGINSDIR when it ends; RMDir /r removes it sooner.
;
; ${RunAsAdministrator} sets the dialog's caption and its empty-password
; message in this process (the launcher reads both from the environment it
; inherits), starts the launcher in the Windows folder, waits for it and
; leaves the launcher's exit code on the stack. If the launcher cannot be
; started at all, it leaves the Windows error of CreateProcessW there instead
; and sets the error flag (test it with ${If} ${Errors}); otherwise the error
; flag is clear.
;
; The arguments are appended verbatim after the quoted program, so quote them
; as on a Windows command line. A backtick cannot appear in them.
;
; Why not ExecWait: it puts the launcher's own path first on the command
; line, and the launcher wants the verb there ("Invalid argument (command
; type)"). Here the launcher is the application name, and the command line
; is `execute <our process id> "<program>" <arguments>`.
;
; Call both from a section: sections run on a worker thread while the
; installer's window thread keeps pumping messages, so the window that owns
; the dialog (and the dialog with it) stays responsive during the wait. A
; page callback runs on that window's own thread and would block it.
;
; The program inherits the Windows folder as its current directory, which
; the other account can open.
;
; Why a folder of its own: the other account's logon must be able to read
; the launcher and the program. $PLUGINSDIR lies in the invoking user's
; temporary folder, whose access list (passed on to everything in it) lets
; in only that user, SYSTEM and Administrators; and under User Account
; Control the administrator's logon gets a filtered token, in which
; Administrators only denies, so that logon would most likely not be able to
; read the files there (CreateProcessWithLogonW would fail with 5, access
; denied). The new folder gets its own, protected access list when it is
; created, passed on to the files extracted into it (LAUNCHER_FOLDER_ACCESS
; below):
;   SYSTEM, Administrators and the folder's owner: full control;
;   Authenticated Users (every account that has logged on): read and
;   execute, nothing more.
; The invoking user (the folder's owner) can still write there. The
; administrator trusts what that user extracted, as with any installer run
; from that user's folder. Access to the file is all that counts: opening a
; file by its full path needs no right on the folders above it (everyone
; holds "Bypass traverse checking").
;
; The owner's entry names OWNER RIGHTS ("OW"), not the user's SID: the folder
; and the files in it belong to the account that created them, the invoking
; user (or, in an elevated installer, Administrators), so the access list is
; one constant text and no token has to be read through the System plug-in.
; Windows knows "OW" from Vista on.
!ifndef LAUNCHER_NSH_INCLUDED
!define LAUNCHER_NSH_INCLUDED

!include LogicLib.nsh

; STARTUPINFOW's size for this installer's word size, and SECURITY_ATTRIBUTES
; as System plug-in fields: its length, the descriptor and bInheritHandle, with
; the padding a 64-bit layout has after each 32-bit field.
!if ${NSIS_PTR_SIZE} > 4
  !define LAUNCHER_STARTUPINFO_SIZE 104
  !define LAUNCHER_SECURITY_ATTRIBUTES "i 24, i 0, p r1, i 0, i 0"
!else
  !define LAUNCHER_STARTUPINFO_SIZE 68
  !define LAUNCHER_SECURITY_ATTRIBUTES "i 12, p r1, i 0"
!endif

; The access list of the launcher's folder, in the security descriptor
; language: protected from the entries of the folder above (P); for the
; folder and, through inheritance (OICI), every file and folder in it:
; full control (FA) for SYSTEM (SY), Administrators (BA) and the owner (OW),
; and read and execute (0x1200a9: FILE_GENERIC_READ | FILE_GENERIC_EXECUTE)
; for Authenticated Users (AU).
!define LAUNCHER_FOLDER_ACCESS "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)(A;OICI;0x1200a9;;;AU)"
!define LAUNCHER_ERROR_ALREADY_EXISTS 183

!macro CreateLauncherFolder
  Call CreateLauncherFolder
!macroend
!define CreateLauncherFolder `!insertmacro CreateLauncherFolder`

Function CreateLauncherFolder
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  InitPluginsDir

  ; $1: the security descriptor, which LocalFree releases; $5: the attempt,
  ; or 0 after a failure, whose error is then in $0.
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "${LAUNCHER_FOLDER_ACCESS}", i 1, *p .r1, p 0) i .r2 ?e'
  Pop $3
  ${If} $2 = 0
    StrCpy $0 $3
    StrCpy $5 0
  ${Else}
    System::Call '*(${LAUNCHER_SECURITY_ATTRIBUTES}) p .r4'
    ; CreateDirectoryW gives the new folder that access list, and fails if
    ; the folder exists: a folder made by someone else, with another access
    ; list, is never used. The next name is tried then.
    StrCpy $5 0
    ${Do}
      IntOp $5 $5 + 1
      StrCpy $0 "$PLUGINSDIR\launcher$5"
      System::Call 'kernel32::CreateDirectoryW(w r0, p r4) i .r2 ?e'
      Pop $3
      ${If} $2 <> 0
        ${ExitDo}
      ${ElseIf} $3 <> ${LAUNCHER_ERROR_ALREADY_EXISTS}
      ${OrIf} $5 >= 100
        StrCpy $0 $3
        StrCpy $5 0
        ${ExitDo}
      ${EndIf}
    ${Loop}
    System::Free $4
    System::Call 'kernel32::LocalFree(p r1)'
  ${EndIf}
  ${If} $5 = 0
    SetErrors
  ${Else}
    ClearErrors
  ${EndIf}

  ; Leave the result ($0) on the stack and restore the caller's registers;
  ; none of this touches the error flag.
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

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
