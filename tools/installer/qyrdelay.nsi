; QyrDelay installer. Built by CMake with:
;   makensis -DVERSION=x.y.z -DEXE=<QyrDelay.exe> -DICON=<qyrdelay.ico> -DOUTFILE=<setup.exe>
; Silent use:  setup.exe /S [/ALLOW=<list>] [/OFFAT=HH:MM [/DAYS=<days>]] [/UDP=0|1]
;                        [/SIGNEDBY=<hall.pub>] [/INI=<file>] [/FILE1=<path> /DELAY1=<s>
;                        /RESTART1=<s> ... /FILE4= /DELAY4= /RESTART4=] [/D=C:\QyrNOR\QyrDelay]
;                                                       (the path must hold "QyrNOR")
;              uninstall.exe /S [/PURGE]                  (/PURGE also deletes QyrDelay.ini)
; /ALLOW=, /OFFAT= and /DAYS= are each taken as /NAME=a,b or /NAME="a, b" or "/NAME=a, b" and
; written as given into [REMOTE] AllowFrom, [POWER] OffAt and [POWER] Days. An empty or invalid
; value, /DAYS= without /OFFAT=, or an OffAt that the RebootAt and Days kept in QyrDelay.ini make
; invalid ends the installer with exit code 2 before it changes anything. So does a junction or
; link on the path, or an existing folder on it that standard users may change, unless that
; folder's own name holds QyrNOR: such a folder is taken over (owner Administrators, the rights of
; a new folder). The checks are made by the program itself (QyrDelay.exe --check-allow= /
; --check-power= / --check-folder= / --secure-folder=), run from the installer's temporary folder.
; /UDP=0 closes the UDP listener ([REMOTE] Udp=0; /UDP=1 opens it again) and /SIGNEDBY= sets the
; hall's public key ([REMOTE] SignedBy, checked with --check-key=): then only power commands signed
; by the hall's private key are obeyed. Any other /UDP= value, or a key that is not one, stops the
; installer with exit code 2 before it changes anything.
; /INI= installs a settings file prepared for the hall in place of the one kept, and /FILEn=,
; /DELAYn=, /RESTARTn= set the window's row n (File<n-1>, Delay<n-1>, Restart<n-1> of [AUTORUN])
; over it or over the kept one. The settings so made are checked whole by the program
; (--check-ini=) before anything is installed; a bad entry is named and nothing is installed.
; QyrDelay.ini names what the Run value starts for every user: only administrators may change it;
; Users may modify the two logs.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include StrFunc.nsh
${StrStr}

!define PRODUCT "QyrDelay"
!define RUN_KEY "SOFTWARE\Microsoft\Windows\CurrentVersion\Run"
; The value name the program itself writes, spelled as it spells it.
!define RUN_VALUE "QyrNOR_Delay_Luancher"
!define UNINST_KEY "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\QyrDelay"
!define PORT 26908
!define RULE_TCP "QyrDelay TCP ${PORT}"
!define RULE_UDP "QyrDelay UDP ${PORT}"
; Well-known SIDs, so that the rights are right on Windows in any language.
!define SID_USERS "*S-1-5-32-545"
!define SID_ADMINS "*S-1-5-32-544"
!define SID_SYSTEM "*S-1-5-18"

Name "QyrDelay 延时启动器"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\QyrNOR\QyrDelay"
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "QyrDelay"
VIAddVersionKey /LANG=0 "FileDescription" "QyrDelay 安装程序"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "CompanyName" "QyrNOR"
VIAddVersionKey /LANG=0 "LegalCopyright" "QyrNOR"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\QyrDelay.exe"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

LangString NoQyrNor ${LANG_SIMPCHINESE} "安装路径必须包含 QyrNOR (例如 C:\QyrNOR\QyrDelay),否则远程控制 (TCP/UDP ${PORT}) 不会开启。"
LangString NoQyrNor ${LANG_ENGLISH} "The folder path must contain QyrNOR (for example C:\QyrNOR\QyrDelay), or remote control (TCP/UDP ${PORT}) stays off."
LangString BadAllow ${LANG_SIMPCHINESE} "/ALLOW= 给出的列表无效:"
LangString BadAllow ${LANG_ENGLISH} "The /ALLOW= list is not valid:"
LangString BadPower ${LANG_SIMPCHINESE} "/OFFAT= 或 /DAYS= 的值无效,或与 QyrDelay.ini 中保留的 [POWER] 设置合在一起无效:"
LangString BadPower ${LANG_ENGLISH} "The /OFFAT= or /DAYS= value is not valid, or not with the [POWER] settings QyrDelay.ini keeps:"
LangString DaysWithoutOffAt ${LANG_SIMPCHINESE} "/DAYS= 必须与 /OFFAT= 一起给出:只有星期没有时间,什么都不会做。"
LangString DaysWithoutOffAt ${LANG_ENGLISH} "/DAYS= needs /OFFAT= with it: a days list without a time does nothing."
LangString BadFolder ${LANG_SIMPCHINESE} "安装路径上有链接(junction),或有普通用户可以更改的文件夹:"
LangString BadFolder ${LANG_ENGLISH} "The install path holds a link (junction), or a folder that standard users may change:"
LangString NoFolder ${LANG_SIMPCHINESE} "无法创建安装文件夹:"
LangString NoFolder ${LANG_ENGLISH} "The install folder could not be made:"
LangString BadUdp ${LANG_SIMPCHINESE} "/UDP= 只能是 0(关闭 UDP)或 1(打开 UDP):"
LangString BadUdp ${LANG_ENGLISH} "/UDP= takes 0 (UDP closed) or 1 (UDP open):"
LangString BadKey ${LANG_SIMPCHINESE} "/SIGNEDBY= 给出的公钥无效:"
LangString BadKey ${LANG_ENGLISH} "The /SIGNEDBY= key is not valid:"
LangString BadSettings ${LANG_SIMPCHINESE} "要安装的设置无效:"
LangString BadSettings ${LANG_ENGLISH} "The settings to install are not valid:"
LangString NoIni ${LANG_SIMPCHINESE} "/INI= 给出的设置文件不存在:"
LangString NoIni ${LANG_ENGLISH} "The /INI= settings file does not exist:"
LangString NothingInstalled ${LANG_SIMPCHINESE} "什么都没有安装。"
LangString NothingInstalled ${LANG_ENGLISH} "Nothing was installed."
LangString SecProgram ${LANG_SIMPCHINESE} "程序、防火墙规则和开机自启动"
LangString SecProgram ${LANG_ENGLISH} "Program, firewall rules and autostart"
LangString SecSettings ${LANG_SIMPCHINESE} "同时删除设置文件 QyrDelay.ini"
LangString SecSettings ${LANG_ENGLISH} "Also delete the settings file QyrDelay.ini"

Var Found
Var NewTop
Var AllowGiven
Var AllowList
Var OffAtGiven
Var OffAt
Var DaysGiven
Var Days
Var UdpGiven
Var IniGiven
Var IniFile
Var SlotsGiven
Var Udp
Var KeyGiven
Var HallKey

; Sets $NewTop to the topmost folder of $INSTDIR that does not exist yet ($INSTDIR when it does).
Function FindNewTop
  Push $0
  StrCpy $NewTop $INSTDIR
  StrCpy $0 $INSTDIR
  ${Do}
    ${If} ${FileExists} "$0\*.*"
      ${ExitDo}
    ${EndIf}
    StrCpy $NewTop $0
    ${GetParent} $0 $0
  ${LoopUntil} $0 == ""
  Pop $0
FunctionEnd

; Sets $Found to 1 when $INSTDIR holds "qyrnor" in any letter case (StrCmp ignores case),
; the same test the program makes before it opens its listeners.
Function CheckQyrNor
  Push $0
  Push $1
  StrCpy $Found 0
  StrCpy $0 0
  ${Do}
    StrCpy $1 $INSTDIR 6 $0
    ${If} $1 == ""
      ${ExitDo}
    ${EndIf}
    ${If} $1 == "qyrnor"
      StrCpy $Found 1
      ${ExitDo}
    ${EndIf}
    IntOp $0 $0 + 1
  ${Loop}
  Pop $1
  Pop $0
FunctionEnd

; The checks are the program's own: it is extracted before anything else happens.
Function .onInit
  InitPluginsDir
  File "/oname=$PLUGINSDIR\QyrDelay.exe" "${EXE}"
FunctionEnd

Function DirectoryLeave
  Call CheckQyrNor
  ${If} $Found != 1
    MessageBox MB_ICONEXCLAMATION|MB_OK "$(NoQyrNor)"
    Abort
  ${EndIf}
  ; Told here, the user may choose another folder; exit code 3 means it will be taken over.
  nsExec::ExecToStack '"$PLUGINSDIR\QyrDelay.exe" "--check-folder=$INSTDIR"'
  Pop $0
  Pop $1
  ${If} $0 != 0
  ${AndIf} $0 != 3
    MessageBox MB_ICONEXCLAMATION|MB_OK "$(BadFolder)$\r$\n$1"
    Abort
  ${EndIf}
FunctionEnd

; Runs a command hidden, shows and logs its exit code and output.
!macro Logged CMD
  StrCpy $2 `${CMD}`
  nsExec::ExecToStack $2
  Pop $0
  Pop $1
  DetailPrint "$2 -> $0 $1"
  FileWrite $9 "$2$\r$\n  -> $0 $1$\r$\n"
!macroend

; Ends the installer with exit code 2, saying why (a box unless silent, and the details list).
!macro Refuse TEXT
  DetailPrint "${TEXT}"
  MessageBox MB_ICONSTOP|MB_OK "${TEXT}" /SD IDOK
  SetErrorLevel 2
  Abort
!macroend

; An earlier 32-bit copy kept its autostart value in the 32-bit view of the registry, which a
; 64-bit installer does not see by default: left there, it would start a second launcher.
!macro RemoveOld32BitAutostart
  SetRegView 32
  ClearErrors
  ReadRegStr $0 HKLM "${RUN_KEY}" "${RUN_VALUE}"
  ${IfNot} ${Errors}
    DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
    DetailPrint "removed the 32-bit autostart value of an earlier copy: $0"
    FileWrite $9 "removed the 32-bit autostart value of an earlier copy: $0$\r$\n"
  ${EndIf}
  SetRegView 64
!macroend

; Only administrators may change the program that the machine-wide Run value starts for
; everyone. The topmost folder this installer creates (C:\QyrNOR for C:\QyrNOR\QyrDelay), or
; the install folder when it exists, gets explicit rights before the program lands in it: a new
; folder outside Program Files inherits rights (from C:\, say) that let any user rename it or
; replace what is in it. Folders above it that existed before keep theirs (they may hold other
; things) once SecureFolders has found them closed to standard users, or taken them over.
!macro LockProgramFolder
  !insertmacro Logged '"$SYSDIR\icacls.exe" "$NewTop" /inheritance:r /grant:r ${SID_ADMINS}:(OI)(CI)F ${SID_SYSTEM}:(OI)(CI)F ${SID_USERS}:(OI)(CI)RX'
!macroend

; The settings file and the two log files are created here (an empty settings file reads as no
; file: every key takes its default). The settings file names the programs that the machine-wide
; Run value starts for every user: only administrators may change it, and an upgrade takes back
; the Users grant that earlier versions gave it. The program runs as the logged-on user, who may
; be a standard user: the logs stay writable for the Users group; nothing else in the folder is.
!macro SettingsAndLogFiles
  !insertmacro CreateFile "QyrDelay.ini"
  !insertmacro Logged '"$SYSDIR\icacls.exe" "$INSTDIR\QyrDelay.ini" /setowner ${SID_ADMINS}'
  !insertmacro Logged '"$SYSDIR\icacls.exe" "$INSTDIR\QyrDelay.ini" /reset'
  !insertmacro CreateFile "QyrDelay.log"
  !insertmacro Logged '"$SYSDIR\icacls.exe" "$INSTDIR\QyrDelay.log" /grant ${SID_USERS}:(M)'
  !insertmacro CreateFile "QyrDelay.log.1"
  !insertmacro Logged '"$SYSDIR\icacls.exe" "$INSTDIR\QyrDelay.log.1" /grant ${SID_USERS}:(M)'
!macroend

; Creates an empty file unless it exists (kept byte for byte).
!macro CreateFile NAME
  ${IfNot} ${FileExists} "$INSTDIR\${NAME}"
    FileOpen $0 "$INSTDIR\${NAME}" w
    FileClose $0
  ${EndIf}
!macroend

; The /ALLOW=, /OFFAT= and /DAYS= options. A list holds "/" (192.168.1.0/24), which the usual
; option reader takes for the next option, so each is read by hand from the command line as typed
; in cmd: /NAME=a,b (up to the next blank), /NAME="a, b" or "/NAME=a, b" (up to the closing
; quote). A quote ends the value in every form, so that the value the program checks is the value
; written. Takes the option ("/ALLOW=") from the stack; leaves the value, without quotes, and on
; top of it 1 when the option is given, else 0. Changes $0 to $6.
Function ReadTypedOption
  Pop $6
  ${GetParameters} $0
  ${StrStr} $1 $0 $6
  ${If} $1 == ""
    Push ""
    Push 0
    Return
  ${EndIf}
  StrCpy $4 0   ; 1: quoted
  StrLen $2 $0
  StrLen $3 $1
  IntOp $2 $2 - $3
  IntOp $2 $2 - 1
  ${If} $2 >= 0
    StrCpy $3 $0 1 $2   ; the character before the option
    ${If} $3 == '"'
      StrCpy $4 1
    ${EndIf}
  ${EndIf}
  StrLen $3 $6
  StrCpy $1 $1 "" $3
  StrCpy $3 $1 1
  ${If} $3 == '"'
    StrCpy $4 1
    StrCpy $1 $1 "" 1
  ${EndIf}
  StrCpy $5 0
  ${Do}
    StrCpy $3 $1 1 $5
    ${If} $3 == ""
    ${OrIf} $3 == '"'
      ${ExitDo}
    ${EndIf}
    ${If} $3 == " "
    ${AndIf} $4 != 1
      ${ExitDo}
    ${EndIf}
    IntOp $5 $5 + 1
  ${Loop}
  StrCpy $1 $1 $5
  Push $1
  Push 1
FunctionEnd

; Sets GIVEN to 1 or 0 and VALUE to the option's value (see ReadTypedOption).
!macro ReadTypedOption NAME GIVEN VALUE
  Push "${NAME}"
  Call ReadTypedOption
  Pop ${GIVEN}
  Pop ${VALUE}
!macroend

; Before anything is installed: an /ALLOW= list that would not restrict (empty) or that the
; program would refuse (and so turn remote control off) stops the installer.
!macro CheckAllowList
  !insertmacro ReadTypedOption "/ALLOW=" $AllowGiven $AllowList
  ${If} $AllowGiven == 1
    !insertmacro Logged '"$PLUGINSDIR\QyrDelay.exe" "--check-allow=$AllowList"'
    ${If} $0 != 0
      !insertmacro Refuse "$(BadAllow) /ALLOW=$AllowList$\r$\n$1$\r$\n$(NothingInstalled)"
    ${EndIf}
  ${EndIf}
!macroend

; Before anything is installed: /UDP= is 0 or 1, and a /SIGNEDBY= key is one the program takes
; (a key it refuses would turn remote control off).
!macro CheckRemoteOptions
  !insertmacro ReadTypedOption "/UDP=" $UdpGiven $Udp
  ${If} $UdpGiven == 1
  ${AndIf} $Udp != "0"
  ${AndIf} $Udp != "1"
    !insertmacro Refuse "$(BadUdp) /UDP=$Udp$\r$\n$(NothingInstalled)"
  ${EndIf}
  !insertmacro ReadTypedOption "/SIGNEDBY=" $KeyGiven $HallKey
  ${If} $KeyGiven == 1
    !insertmacro Logged '"$PLUGINSDIR\QyrDelay.exe" "--check-key=$HallKey"'
    ${If} $0 != 0
      !insertmacro Refuse "$(BadKey) /SIGNEDBY=$HallKey$\r$\n$1$\r$\n$(NothingInstalled)"
    ${EndIf}
  ${EndIf}
!macroend

; One row of the window: /FILEn=, /DELAYn= or /RESTARTn= into the settings to install.
!macro ReadSlotOption NAME KEY
  !insertmacro ReadTypedOption "/${NAME}=" $R1 $R2
  ${If} $R1 == 1
    WriteINIStr "$PLUGINSDIR\settings.ini" "AUTORUN" "${KEY}" "$R2"
    FileWrite $9 "${KEY}=$R2$\r$\n"
    StrCpy $SlotsGiven 1
  ${EndIf}
!macroend

; Before anything is installed: the settings to install are made in the temporary folder (the
; /INI= file, else the kept one, with the rows given on top) and the program checks them whole.
; The other checks read the kept [POWER] entries from them too.
!macro CheckSettings
  !insertmacro ReadTypedOption "/INI=" $IniGiven $IniFile
  StrCpy $SlotsGiven 0
  Delete "$PLUGINSDIR\settings.ini"
  ${If} $IniGiven == 1
    ${IfNot} ${FileExists} "$IniFile"
      !insertmacro Refuse "$(NoIni) /INI=$IniFile$\r$\n$(NothingInstalled)"
    ${EndIf}
    CopyFiles /SILENT "$IniFile" "$PLUGINSDIR\settings.ini"
  ${ElseIf} ${FileExists} "$INSTDIR\QyrDelay.ini"
    CopyFiles /SILENT "$INSTDIR\QyrDelay.ini" "$PLUGINSDIR\settings.ini"
  ${EndIf}
  !insertmacro ReadSlotOption FILE1 File0
  !insertmacro ReadSlotOption DELAY1 Delay0
  !insertmacro ReadSlotOption RESTART1 Restart0
  !insertmacro ReadSlotOption FILE2 File1
  !insertmacro ReadSlotOption DELAY2 Delay1
  !insertmacro ReadSlotOption RESTART2 Restart1
  !insertmacro ReadSlotOption FILE3 File2
  !insertmacro ReadSlotOption DELAY3 Delay2
  !insertmacro ReadSlotOption RESTART3 Restart2
  !insertmacro ReadSlotOption FILE4 File3
  !insertmacro ReadSlotOption DELAY4 Delay3
  !insertmacro ReadSlotOption RESTART4 Restart3
  ${If} $IniGiven == 1
  ${OrIf} $SlotsGiven == 1
    !insertmacro Logged '"$PLUGINSDIR\QyrDelay.exe" "--check-ini=$PLUGINSDIR\settings.ini"'
    ${If} $0 != 0
      !insertmacro Refuse "$(BadSettings)$\r$\n$1$\r$\n$(NothingInstalled)"
    ${EndIf}
  ${EndIf}
!macroend

; Only when asked: the settings checked above take the place of the kept ones, before their
; rights are set.
!macro InstallSettings
  ${If} $IniGiven == 1
  ${OrIf} $SlotsGiven == 1
    CopyFiles /SILENT "$PLUGINSDIR\settings.ini" "$INSTDIR\QyrDelay.ini"
  ${EndIf}
!macroend

; Before anything is installed: the clock the program will read once /OFFAT= and /DAYS= are
; written must be one it accepts, or it stays off. The RebootAt the settings file keeps is read
; with the new OffAt (the same minute turns both off), and so are the Days it keeps when /DAYS= is
; not given. A days list without a time does nothing: whoever typed it meant something else.
!macro CheckPowerClock
  !insertmacro ReadTypedOption "/OFFAT=" $OffAtGiven $OffAt
  !insertmacro ReadTypedOption "/DAYS=" $DaysGiven $Days
  ${If} $DaysGiven == 1
  ${AndIf} $OffAtGiven != 1
    !insertmacro Refuse "$(DaysWithoutOffAt) /DAYS=$Days$\r$\n$(NothingInstalled)"
  ${EndIf}
  ${If} $OffAtGiven == 1
    StrCpy $5 "/OFFAT=$OffAt"
    ReadINIStr $3 "$PLUGINSDIR\settings.ini" "POWER" "RebootAt"
    StrCpy $4 '"--reboot-at=$3"'
    ${If} $DaysGiven == 1
      StrCpy $5 "$5 /DAYS=$Days"
      StrCpy $4 '$4 "--days=$Days"'
    ${Else}
      ReadINIStr $3 "$PLUGINSDIR\settings.ini" "POWER" "Days"
      ${If} $3 != ""
        StrCpy $4 '$4 "--days=$3"'
      ${EndIf}
    ${EndIf}
    !insertmacro Logged '"$PLUGINSDIR\QyrDelay.exe" "--check-power=$OffAt" $4'
    ${If} $0 != 0
      !insertmacro Refuse "$(BadPower) $5$\r$\n$1$\r$\n$(NothingInstalled)"
    ${EndIf}
  ${EndIf}
!macroend

; Written into SECTION of the settings file as given; the rest of the file stays as it is.
!macro WriteSetting SECTION KEY VALUE
  WriteINIStr "$INSTDIR\QyrDelay.ini" "${SECTION}" "${KEY}" "${VALUE}"
  DetailPrint "${KEY}=${VALUE}"
  FileWrite $9 "${KEY}=${VALUE}$\r$\n"
!macroend

!macro WriteAllowList
  ${If} $AllowGiven == 1
    !insertmacro WriteSetting "REMOTE" "AllowFrom" "$AllowList"
  ${EndIf}
!macroend

!macro WriteRemoteOptions
  ${If} $UdpGiven == 1
    !insertmacro WriteSetting "REMOTE" "Udp" "$Udp"
  ${EndIf}
  ${If} $KeyGiven == 1
    !insertmacro WriteSetting "REMOTE" "SignedBy" "$HallKey"
  ${EndIf}
!macroend

; Only what was given: a Days the file keeps stays, like every other key.
!macro WritePowerClock
  ${If} $OffAtGiven == 1
    !insertmacro WriteSetting "POWER" "OffAt" "$OffAt"
  ${EndIf}
  ${If} $DaysGiven == 1
    !insertmacro WriteSetting "POWER" "Days" "$Days"
  ${EndIf}
!macroend

; No folder on the path below the drive root may stay changeable by standard users: a junction or
; link anywhere on it is refused (it could send the files and the rights steps elsewhere), and so
; is an existing folder they may change, unless its own name holds QyrNOR: then it was made for
; this program and is taken over. The program judges the rights (the installer cannot read an
; access list) and takes over through the folder itself, never through a link put in its place.
!macro SecureFolders
  !insertmacro Logged '"$PLUGINSDIR\QyrDelay.exe" "--secure-folder=$INSTDIR"'
  ${If} $0 != 0
    !insertmacro Refuse "$(BadFolder)$\r$\n$1$\r$\n$(NothingInstalled)"
  ${EndIf}
!macroend

; Once the new folders have their rights, nothing on the path may be changeable by standard users:
; this also catches a rights step that the system refused.
!macro VerifyFolders
  !insertmacro Logged '"$PLUGINSDIR\QyrDelay.exe" "--check-folder=$INSTDIR"'
  ${If} $0 != 0
    !insertmacro Refuse "$(BadFolder)$\r$\n$1"
  ${EndIf}
!macroend

; A running copy holds its files and the port; it is the only one (single instance).
!macro StopRunningCopy
  nsExec::Exec '"$SYSDIR\taskkill.exe" /F /IM QyrDelay.exe'
  Pop $0
  Sleep 500
!macroend

Section "QyrDelay" SecMain
  SectionIn RO
  SetRegView 64
  Call CheckQyrNor
  ${If} $Found != 1
    MessageBox MB_ICONSTOP|MB_OK "$(NoQyrNor)" /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}

  ; The log is kept aside until the folder may be written: the checks come first.
  FileOpen $9 "$PLUGINSDIR\install.log" w
  !insertmacro CheckSettings
  !insertmacro CheckAllowList
  !insertmacro CheckPowerClock
  !insertmacro CheckRemoteOptions
  !insertmacro SecureFolders

  !insertmacro StopRunningCopy
  Call FindNewTop
  CreateDirectory "$INSTDIR"
  ; A link that leads nowhere, say: the files would go nowhere and the installer would say done.
  ${IfNot} ${FileExists} "$INSTDIR\*.*"
    !insertmacro Refuse "$(NoFolder) $INSTDIR"
  ${EndIf}
  !insertmacro RemoveOld32BitAutostart
  !insertmacro LockProgramFolder
  !insertmacro VerifyFolders
  SetOutPath "$INSTDIR"
  ; Made anew, never rewritten in place: a file keeps its owner and rights, and a program file
  ; that a standard user owned in a folder taken over would stay theirs to replace.
  Delete "$INSTDIR\QyrDelay.exe"
  File "/oname=QyrDelay.exe" "${EXE}"
  Delete "$INSTDIR\uninstall.exe"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  !insertmacro InstallSettings
  !insertmacro SettingsAndLogFiles

  ; The same value the program writes when the user saves with autostart on: plain path, no quotes.
  WriteRegStr HKLM "${RUN_KEY}" "${RUN_VALUE}" "$INSTDIR\QyrDelay.exe"

  ; Removing first keeps a reinstall from adding the rules twice.
  !insertmacro Logged '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="${RULE_TCP}"'
  !insertmacro Logged '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="${RULE_UDP}"'
  !insertmacro Logged '"$SYSDIR\netsh.exe" advfirewall firewall add rule name="${RULE_TCP}" dir=in action=allow program="$INSTDIR\QyrDelay.exe" protocol=TCP localport=${PORT} enable=yes profile=any'
  !insertmacro Logged '"$SYSDIR\netsh.exe" advfirewall firewall add rule name="${RULE_UDP}" dir=in action=allow program="$INSTDIR\QyrDelay.exe" protocol=UDP localport=${PORT} enable=yes profile=any'
  !insertmacro WriteAllowList
  !insertmacro WritePowerClock
  !insertmacro WriteRemoteOptions
  FileClose $9
  CopyFiles /SILENT "$PLUGINSDIR\install.log" "$INSTDIR\install.log"

  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "QyrDelay 延时启动器"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "QyrNOR"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\QyrDelay.exe"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd

Section "un.$(SecProgram)" UnSecMain
  SectionIn RO
  SetRegView 64
  !insertmacro StopRunningCopy

  FileOpen $9 "$TEMP\QyrDelay-uninstall.log" w
  !insertmacro RemoveOld32BitAutostart
  !insertmacro Logged '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="${RULE_TCP}"'
  !insertmacro Logged '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="${RULE_UDP}"'
  FileClose $9

  ; Only our own entry: a copy kept elsewhere by hand keeps its autostart.
  ReadRegStr $0 HKLM "${RUN_KEY}" "${RUN_VALUE}"
  ${If} $0 == "$INSTDIR\QyrDelay.exe"
    DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
  ${EndIf}
  DeleteRegKey HKLM "${UNINST_KEY}"

  Delete "$INSTDIR\QyrDelay.exe"
  Delete "$INSTDIR\install.log"
  Delete "$INSTDIR\uninstall.exe"
SectionEnd

Section /o "un.$(SecSettings)" UnSecSettings
  Delete "$INSTDIR\QyrDelay.ini"
  Delete "$INSTDIR\QyrDelay.log"
  Delete "$INSTDIR\QyrDelay.log.1"
SectionEnd

Section "-un.Folders"
  ; Only when empty: a kept QyrDelay.ini keeps its folder.
  RMDir "$INSTDIR"
  ${GetParent} "$INSTDIR" $0
  RMDir "$0"
SectionEnd

Function un.onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PURGE" $1
  ${IfNot} ${Errors}
    SectionGetFlags ${UnSecSettings} $1
    IntOp $1 $1 | ${SF_SELECTED}
    SectionSetFlags ${UnSecSettings} $1
  ${EndIf}
FunctionEnd
