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
// #include it into an Inno Setup script and call RunAsAdministrator from
// [Code], e.g. in PrepareToInstall (installer.iss beside this file shows how):
//
//   Outcome := RunAsAdministrator(ExpandConstant('{tmp}\launcher.exe'),
//     ExpandConstant('{tmp}\program.exe'), '/quiet "C:\Some Folder\\"',
//     'Administrator rights are needed to continue', 'This account needs a password.');
//
// It sets the dialog's caption and its empty-password message in this process
// (the launcher reads both from the environment it inherits), starts the
// launcher in the Windows folder, waits for it and returns:
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
// other account can open. That account must also be able to read the program:
// {tmp} lies in the invoking user's temporary folder.

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

{ Minus the last error of the system call that just failed; never 0. }
function LauncherFailure(): Int64;
var
  LastError: Longint;
begin
  LastError := DLLGetLastError();
  if LastError = 0 then
    LastError := LAUNCHER_ERROR_INTERNAL_ERROR;
  Result := -LastError;
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
