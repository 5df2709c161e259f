; The records below are laid out for 32-bit code (every handle and pointer
; is 4 bytes), so this include works in 32-bit setups only, the kind Inno
; Setup 6 makes and Inno Setup 7 makes by default. A 64-bit setup
; (SetupArchitecture=x64) would pass Windows records of the wrong size: where
; the [Setup] section comes before the #include, the preprocessor sees that
; and stops the build.
#if LowerCase(SetupSetting("SetupArchitecture")) == "x64"
  #error launcher.iss works only in 32-bit setups: remove SetupArchitecture=x64 (its Windows records are laid out for 32-bit code)
#endif
[Code]
// Runs one program under an administrator's account through launcher.exe.
// #include it into an Inno Setup script and call it from [Code], e.g. in
// PrepareToInstall (installer.iss beside this file shows how), with the
// launcher and the program in the [Files] section (Flags: dontcopy):
//
//   Error := CreateLauncherFolder(Folder);
//   if Error = 0 then Error := ExtractToLauncherFolder('launcher.exe', Folder);
//   if Error = 0 then Error := ExtractToLauncherFolder('program.exe', Folder);
//   ...
//   Outcome := RunAsAdministrator(Folder + '\launcher.exe', Folder + '\program.exe',
//     '/quiet "C:\Some Folder\\"', 'Administrator rights are needed to continue',
//     'This account needs a password.');
//   RemoveLauncherFolder(Folder);
//
// CreateLauncherFolder makes a new folder in {tmp} that the other account
// can read (see "Why a folder of its own" below) and returns 0 with its path
// in Folder, or the Windows error of the call that failed.
// ExtractToLauncherFolder extracts a file of the [Files] section into it and
// returns 0, or the Windows error of the copy (ExtractTemporaryFile raises an
// exception when it fails). RemoveLauncherFolder deletes the folder and its
// files; setup also removes it with {tmp} when it ends.
//
// RunAsAdministrator sets the dialog's caption and its empty-password message
// in this process (the launcher reads both from the environment it inherits),
// starts the launcher in the Windows folder, waits for it and returns:
//   0 or more   the launcher's exit code, unsigned (0 to 4294967295);
//   below 0     minus the Windows error of the call that failed: setting a
//               text, CreateProcessW (the launcher did not start) or, should
//               it ever fail, the wait.
// The result is an Int64 so that the two can never be confused: every exit
// code of a process fits in 0..4294967295, every failure is negative.
//
// The arguments are appended verbatim after the quoted program, so quote them
// as on a Windows command line.
//
// Why not Exec: Exec (like ShellExec and [Run] entries) puts the program's own
// path first on the command line, and the launcher wants the verb there
// ("Invalid argument (command type)"). Here the launcher is the application
// name of CreateProcessW, and the command line is
//   execute <this process's id> "<program>" <arguments>
// This code runs in the process that shows the wizard, so its id lets the
// launcher make a window of the wizard the dialog's owner.
//
// The wait keeps dispatching this thread's messages: the dialog's owner is a
// window of this thread, and a dialog whose owner stops answering messages
// stops answering too.
//
// The program inherits the Windows folder as its current directory, which the
// other account can open.
//
// Why a folder of its own: the other account's logon must be able to read the
// launcher and the program. {tmp} lies in the invoking user's temporary
// folder, whose access list (passed on to everything in it) lets in only that
// user, SYSTEM and Administrators; and under User Account Control the
// administrator's logon gets a filtered token, in which Administrators only
// denies, so that logon would most likely not be able to read the files there
// (CreateProcessWithLogonW would fail with 5, access denied). The new folder
// gets its own, protected access list when it is created, passed on to the
// files put into it (LAUNCHER_FOLDER_ACCESS below):
//   SYSTEM, Administrators and the folder's owner: full control;
//   Authenticated Users (every account that has logged on): read and execute,
//   nothing more.
// The invoking user (the folder's owner) can still write there. The
// administrator trusts what that user extracted, as with any installer run
// from that user's folder. Access to the file is all that counts: opening a
// file by its full path needs no right on the folders above it (everyone
// holds "Bypass traverse checking").
//
// ExtractTemporaryFile writes only to {tmp}, so ExtractToLauncherFolder
// copies the file from there with CopyFileW: a copy is a new file and takes
// the access list its folder passes on (a moved file would keep its own).
//
// The owner's entry names OWNER RIGHTS ("OW"), not the user's SID: the folder
// and the files in it belong to the account that created them, the invoking
// user (or, in an elevated setup, Administrators). So the access list is one
// constant text, where the user's SID would have to be read out of a token
// buffer, which Pascal Script cannot do. Windows knows "OW" from Vista on.

type
  TLauncherStartupInfo = record
    Size: Cardinal;
    Reserved: Cardinal;
    Desktop: Cardinal;
    Title: Cardinal;
    X: Cardinal;
    Y: Cardinal;
    XSize: Cardinal;
    YSize: Cardinal;
    XCountChars: Cardinal;
    YCountChars: Cardinal;
    FillAttribute: Cardinal;
    Flags: Cardinal;
    ShowWindowAndReserved2: Cardinal; { two 16-bit fields }
    Reserved2: Cardinal;
    StdInput: Cardinal;
    StdOutput: Cardinal;
    StdError: Cardinal;
  end;

  TLauncherProcessInformation = record
    Process: Cardinal;
    Thread: Cardinal;
    ProcessId: Cardinal;
    ThreadId: Cardinal;
  end;

  TLauncherSecurityAttributes = record
    Size: Cardinal;
    SecurityDescriptor: Cardinal;
    InheritHandle: Longint;
  end;

  TLauncherMessage = record
    Window: Cardinal;
    Id: Cardinal;
    WordParam: Cardinal;
    LongParam: Cardinal;
    Time: Cardinal;
    X: Cardinal;
    Y: Cardinal;
  end;

const
  LAUNCHER_STARTUPINFO_SIZE = 68;
  LAUNCHER_INFINITE = $FFFFFFFF;
  LAUNCHER_WAIT_FOR_PROCESS = 0; { WAIT_OBJECT_0 }
  LAUNCHER_WAIT_FOR_MESSAGE = 1; { WAIT_OBJECT_0 + 1 with one handle }
  LAUNCHER_QS_ALLINPUT = $04FF;
  LAUNCHER_PM_REMOVE = 1;
  LAUNCHER_ERROR_INTERNAL_ERROR = 1359;
  LAUNCHER_ERROR_ALREADY_EXISTS = 183;
  LAUNCHER_SECURITY_ATTRIBUTES_SIZE = 12;
  LAUNCHER_SDDL_REVISION_1 = 1;
  { The access list of the launcher's folder, in the security descriptor
    language: protected from the entries of the folder above (P); for the
    folder and, through inheritance (OICI), every file and folder in it: full
    control (FA) for SYSTEM (SY), Administrators (BA) and the owner (OW), and
    read and execute (0x1200a9: FILE_GENERIC_READ | FILE_GENERIC_EXECUTE) for
    Authenticated Users (AU). }
  LAUNCHER_FOLDER_ACCESS = 'D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)(A;OICI;0x1200a9;;;AU)';

function LauncherCreateProcess(ApplicationName, CommandLine: String;
  ProcessAttributes, ThreadAttributes: Cardinal; InheritHandles: Longint;
  CreationFlags, Environment: Cardinal; CurrentDirectory: String;
  var StartupInfo: TLauncherStartupInfo;
  var ProcessInformation: TLauncherProcessInformation): Longint;
  external 'CreateProcessW@kernel32.dll stdcall';
function LauncherGetExitCodeProcess(Process: Cardinal; var Code: Cardinal): Longint;
  external 'GetExitCodeProcess@kernel32.dll stdcall';
function LauncherCloseHandle(Handle: Cardinal): Longint;
  external 'CloseHandle@kernel32.dll stdcall';
function LauncherGetCurrentProcessId: Cardinal;
  external 'GetCurrentProcessId@kernel32.dll stdcall';
function LauncherSetEnvironmentVariable(Name, Value: String): Longint;
  external 'SetEnvironmentVariableW@kernel32.dll stdcall';
function LauncherConvertAccessText(Text: String; Revision: Cardinal; var Descriptor: Cardinal;
  SizeNotWanted: Cardinal): Longint;
  external 'ConvertStringSecurityDescriptorToSecurityDescriptorW@advapi32.dll stdcall';
function LauncherCreateDirectory(Path: String;
  var SecurityAttributes: TLauncherSecurityAttributes): Longint;
  external 'CreateDirectoryW@kernel32.dll stdcall';
function LauncherLocalFree(Memory: Cardinal): Cardinal;
  external 'LocalFree@kernel32.dll stdcall';
function LauncherCopyFile(ExistingPath, NewPath: String; FailIfExists: Longint): Longint;
  external 'CopyFileW@kernel32.dll stdcall';
function LauncherMsgWaitForMultipleObjects(Count: Cardinal; var Handle: Cardinal;
  WaitAll: Longint; Milliseconds, WakeMask: Cardinal): Cardinal;
  external 'MsgWaitForMultipleObjects@user32.dll stdcall';
function LauncherPeekMessage(var Msg: TLauncherMessage; Window: Cardinal;
  FilterMin, FilterMax, RemoveFlags: Cardinal): Longint;
  external 'PeekMessageW@user32.dll stdcall';
function LauncherTranslateMessage(var Msg: TLauncherMessage): Longint;
  external 'TranslateMessage@user32.dll stdcall';
function LauncherDispatchMessage(var Msg: TLauncherMessage): Longint;
  external 'DispatchMessageW@user32.dll stdcall';

{ The last error of the system call that just failed; never 0. }
function LauncherLastError(): Cardinal;
begin
  Result := DLLGetLastError();
  if Result = 0 then
    Result := LAUNCHER_ERROR_INTERNAL_ERROR;
end;

{ Minus the last error of the system call that just failed; never 0. }
function LauncherFailure(): Int64;
begin
  Result := LauncherLastError();
  Result := -Result;
end;

// Makes a new folder in {tmp} with the access list above; returns 0 and its
// path in Folder, or the Windows error of the call that failed.
// CreateDirectoryW gives the folder that access list, and fails if the folder
// exists: a folder made by someone else, with another access list, is never
// used. The next name is tried then.
function CreateLauncherFolder(var Folder: String): Cardinal;
var
  SecurityAttributes: TLauncherSecurityAttributes;
  Descriptor: Cardinal;
  Attempt: Integer;
begin
  Folder := '';
  Descriptor := 0;
  if LauncherConvertAccessText(LAUNCHER_FOLDER_ACCESS, LAUNCHER_SDDL_REVISION_1, Descriptor,
       0) = 0 then
  begin
    Result := LauncherLastError();
    Exit;
  end;
  SecurityAttributes.Size := LAUNCHER_SECURITY_ATTRIBUTES_SIZE;
  SecurityAttributes.SecurityDescriptor := Descriptor;
  SecurityAttributes.InheritHandle := 0;
  Attempt := 0;
  repeat
    Attempt := Attempt + 1;
    Folder := ExpandConstant('{tmp}\launcher') + IntToStr(Attempt);
    if LauncherCreateDirectory(Folder, SecurityAttributes) <> 0 then
      Result := 0
    else
      Result := LauncherLastError();
  until (Result <> LAUNCHER_ERROR_ALREADY_EXISTS) or (Attempt >= 100);
  LauncherLocalFree(Descriptor);
  if Result <> 0 then
    Folder := '';
end;

// Extracts FileName from the [Files] section into Folder (made by
// CreateLauncherFolder), through {tmp}; returns 0, or the error of the copy.
function ExtractToLauncherFolder(const FileName, Folder: String): Cardinal;
begin
  ExtractTemporaryFile(FileName);
  if LauncherCopyFile(ExpandConstant('{tmp}\') + FileName, Folder + '\' + FileName, 1) = 0 then
    Result := LauncherLastError()
  else
    Result := 0;
end;

{ Deletes the folder that CreateLauncherFolder made, with the files in it. }
procedure RemoveLauncherFolder(const Folder: String);
begin
  if Folder <> '' then
    DelTree(Folder, True, True, True);
end;

{ Sets an environment variable of this process. An empty value is passed
  as a one-character text that holds only the terminator, because an empty
  script string may reach the system as a null pointer, which would delete
  the variable (the launcher requires the caption to exist). }
function LauncherSetVariable(const Name, Value: String): Boolean;
var
  Terminated: String;
begin
  Terminated := Value;
  if Terminated = '' then
    Terminated := #0;
  Result := LauncherSetEnvironmentVariable(Name, Terminated) <> 0;
end;

{ Waits for the process while dispatching this thread's messages. }
function LauncherWaitDispatching(Process: Cardinal): Boolean;
var
  Msg: TLauncherMessage;
  Handle: Cardinal;
  WaitResult: Cardinal;
begin
  Handle := Process;
  repeat
    while LauncherPeekMessage(Msg, 0, 0, 0, LAUNCHER_PM_REMOVE) <> 0 do
    begin
      LauncherTranslateMessage(Msg);
      LauncherDispatchMessage(Msg);
    end;
    WaitResult := LauncherMsgWaitForMultipleObjects(1, Handle, 0, LAUNCHER_INFINITE,
      LAUNCHER_QS_ALLINPUT);
  until WaitResult <> LAUNCHER_WAIT_FOR_MESSAGE;
  Result := WaitResult = LAUNCHER_WAIT_FOR_PROCESS;
end;

function RunAsAdministrator(const LauncherPath, ProgramPath, Parameters, Caption,
  EmptyPasswordMessage: String): Int64;
var
  StartupInfo: TLauncherStartupInfo;
  ProcessInformation: TLauncherProcessInformation;
  CommandLine: String;
  LauncherExitCode: Cardinal;
begin
  if not LauncherSetVariable('AuthDialogCaption', Caption) or
     not LauncherSetVariable('EmptyPasswordRestrictionMessage', EmptyPasswordMessage) then
  begin
    Result := LauncherFailure();
    Exit;
  end;

  CommandLine := 'execute ' + IntToStr(LauncherGetCurrentProcessId()) + ' "' + ProgramPath + '"';
  if Parameters <> '' then
    CommandLine := CommandLine + ' ' + Parameters;
  Log('Starting ' + LauncherPath + ' with the command line: ' + CommandLine);

  StartupInfo.Size := LAUNCHER_STARTUPINFO_SIZE;
  StartupInfo.Reserved := 0;
  StartupInfo.Desktop := 0;
  StartupInfo.Title := 0;
  StartupInfo.X := 0;
  StartupInfo.Y := 0;
  StartupInfo.XSize := 0;
  StartupInfo.YSize := 0;
  StartupInfo.XCountChars := 0;
  StartupInfo.YCountChars := 0;
  StartupInfo.FillAttribute := 0;
  StartupInfo.Flags := 0;
  StartupInfo.ShowWindowAndReserved2 := 0;
  StartupInfo.Reserved2 := 0;
  StartupInfo.StdInput := 0;
  StartupInfo.StdOutput := 0;
  StartupInfo.StdError := 0;
  ProcessInformation.Process := 0;
  ProcessInformation.Thread := 0;

  { The launcher is the application name; the command line starts with the
    verb. CreateProcessW may write to the command line's buffer, which is
    this function's own string. }
  if LauncherCreateProcess(LauncherPath, CommandLine, 0, 0, 0, 0, 0, ExpandConstant('{win}'),
       StartupInfo, ProcessInformation) = 0 then
  begin
    Result := LauncherFailure();
    Exit;
  end;
  LauncherCloseHandle(ProcessInformation.Thread);

  if not LauncherWaitDispatching(ProcessInformation.Process) then
    Result := LauncherFailure()
  else if LauncherGetExitCodeProcess(ProcessInformation.Process, LauncherExitCode) = 0 then
    Result := LauncherFailure()
  else
    Result := LauncherExitCode;
  LauncherCloseHandle(ProcessInformation.Process);
end;
