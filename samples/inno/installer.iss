; An installer that runs one program under another account through launcher.exe.
; Copy it, with launcher.iss beside it, into your own build. It takes three
; preprocessor defines; a script that #defines them and then #includes this
; one builds it (ISCC splits its own command line so that a /D value cannot
; hold a double quote, so put the values into such a script):
;
;   #define LAUNCHER "C:\build\launcher.exe"
;   #define PROGRAM "C:\build\setup-part.exe"
;   #define PROGRAM_ARGS '/quiet "C:\Some Folder\\"'
;   #include "C:\samples\inno\installer.iss"
;
;   ISCC.exe /O"C:\build" /Finstaller that-script.iss
;
; LAUNCHER      launcher.exe to embed
; PROGRAM       the program to run under the other account
; PROGRAM_ARGS  its arguments, as text appended verbatim after the quoted
;               program (quote them as on a Windows command line); write the
;               value in single quotes when it holds double quotes (the
;               preprocessor reads no escapes: a single quote is doubled)
; /O and /F choose the installer's folder and name.
;
; The installer extracts the launcher and the program into a folder of their
; own in {tmp} that the other account can read (see launcher.iss), runs the
; program and deletes the folder. It stops in its "Preparing to Install" step
; unless the launcher returned 0: setup's exit code is 0 when the program ran
; and ended with 0, and 7 (Inno Setup's "Preparing to Install failed")
; otherwise. A cancelled dialog (1223) or the program's own user exit (1602)
; stops it quietly (the wizard closes); any other code stops it with a message
; naming the code, after the launcher has shown why, and so does a folder that
; could not be made or filled (naming the Windows error). A silent setup shows
; its message in a box unless run with /SUPPRESSMSGBOXES. /LOG=<file> writes
; the launcher's command line and exit code into setup's log.

#ifndef LAUNCHER
  #define LAUNCHER "launcher.exe"
#endif
#ifndef PROGRAM
  #define PROGRAM "setup-part.exe"
#endif
#ifndef PROGRAM_ARGS
  #define PROGRAM_ARGS "/quiet"
#endif

[Setup]
AppName=Sample setup
AppVersion=1.0
; Nothing is installed: the installer only runs the program.
CreateAppDir=no
Uninstallable=no
; Setup runs as the invoking user; the program gets the other account.
PrivilegesRequired=lowest
OutputBaseFilename=installer

[Files]
; Both stay inside the installer until PrepareToInstall extracts them into the
; launcher's folder (through {tmp}).
Source: "{#LAUNCHER}"; DestDir: "{tmp}"; DestName: "launcher.exe"; Flags: dontcopy
Source: "{#PROGRAM}"; DestDir: "{tmp}"; DestName: "program.exe"; Flags: dontcopy

#include "launcher.iss"

[Code]
const
  DIALOG_CANCELLED = 1223;        { ERROR_CANCELLED }
  PROGRAM_USER_EXIT = 1602;       { ERROR_INSTALL_USEREXIT }
  WINDOW_CLOSE_MESSAGE = $0010;   { WM_CLOSE }

function PrepareToInstall(var NeedsRestart: Boolean): String;
var
  Outcome: Int64;
  Folder: String;
  Error: Cardinal;
begin
  Result := '';
  // Not {tmp} itself: the other account most likely could not read the files
  // there.
  Error := CreateLauncherFolder(Folder);
  if Error = 0 then
    Error := ExtractToLauncherFolder('launcher.exe', Folder);
  if Error = 0 then
    Error := ExtractToLauncherFolder('program.exe', Folder);
  if Error <> 0 then
  begin
    // Setup removes the folder with {tmp} when it ends.
    Result := 'Could not prepare the launcher''s folder (error ' + IntToStr(Error) + ').';
    Exit;
  end;
  Outcome := RunAsAdministrator(Folder + '\launcher.exe', Folder + '\program.exe',
    '{#StringChange(PROGRAM_ARGS, "'", "''")}',
    'Administrator rights are needed to continue', 'This account needs a password.');
  { The launcher has waited for the program: neither file is in use any more. }
  RemoveLauncherFolder(Folder);
  Log('The launcher returned ' + IntToStr(Outcome) + '.');

  if Outcome = 0 then
    Exit;
  if Outcome < 0 then
    Result := 'Could not start the launcher (error ' + IntToStr(-Outcome) + ').'
  else if (Outcome = DIALOG_CANCELLED) or (Outcome = PROGRAM_USER_EXIT) then
  begin
    { The user stopped it: the wizard closes instead of showing this text.
      A silent setup logs it, and shows it in a box unless run with
      /SUPPRESSMSGBOXES. }
    Result := 'Setup was cancelled.';
    if not WizardSilent() then
      PostMessage(WizardForm.Handle, WINDOW_CLOSE_MESSAGE, 0, 0);
  end
  else
    { The launcher has already shown what went wrong. }
    Result := 'The program could not be run (error ' + IntToStr(Outcome) + ').';
end;
