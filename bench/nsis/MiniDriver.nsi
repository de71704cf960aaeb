; The shipped install list (payload/PackageFiles/SetupScript.xml, "Insall") done
; by NSIS, as the yardstick of nsis-bench.sh. Built by that script with
;   makensis -DTARGET=x86-unicode|amd64-unicode -DPAYLOAD=DIR -DOUTFILE=EXE MiniDriver.nsi
; where DIR is a build's wizard/package-tree/PackageFiles, so that both
; installers carry the same payload files.
;
; Left out, as NSIS has no cheap equivalent: the two KillProcess steps (which
; look for processes that hold the minidriver DLL) and UnRegCert (which
; removes the smart card's certificates from the "MY" store), plus the shell
; icon refresh (ie4uinit -show) and SHChangeNotify that follow the list (the
; setup program's own, not the list's).
; The uninstaller is NSIS's own, not a copy of the installer.

!ifndef TARGET | PAYLOAD | OUTFILE
  !error "define TARGET, PAYLOAD and OUTFILE"
!endif

Target ${TARGET}
Name "Zorvak Smart Card Minidriver"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES32\Zorvak\MiniDriver"
RequestExecutionLevel admin
; Our package is stored as it is; so are NSIS's files here (it still checks
; its CRC32 over the whole installer).
SetCompress off
ShowInstDetails nevershow
ShowUninstDetails nevershow

!include "FileFunc.nsh"

; Adds the size of one file to $0 (bytes).
!macro AddFileSize FILE
  FileOpen $1 "${FILE}" r
  FileSeek $1 0 END $2
  FileClose $1
  IntOp $0 $0 + $2
!macroend

!define PRODUCT_KEY "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{A1111111-B897-4b94-A031-598EB296D75B}"
!define CARDS_KEY "SOFTWARE\Microsoft\Cryptography\Calais\SmartCards"
!define MENU_DIR "$SMPROGRAMS\Zorvak Smart Card Minidriver"

; A 32-bit process reaches the native system folder through Sysnative: its
; own System32 is redirected to SysWOW64.
!if "${TARGET}" == "amd64-unicode"
  !define NATIVE_SYSDIR "$WINDIR\System32"
!else
  !define NATIVE_SYSDIR "$WINDIR\Sysnative"
!endif

!macro CardKey NAME ATR MASK
  WriteRegStr HKLM "${CARDS_KEY}\${NAME}" "80000001" "ZorvakMiniDriver.dll"
  WriteRegBin HKLM "${CARDS_KEY}\${NAME}" "ATR" "${ATR}"
  WriteRegBin HKLM "${CARDS_KEY}\${NAME}" "ATRMask" "${MASK}"
  WriteRegStr HKLM "${CARDS_KEY}\${NAME}" "Crypto Provider" "Microsoft Base Smart Card Crypto Provider"
  WriteRegStr HKLM "${CARDS_KEY}\${NAME}" "Smart Card Key Storage Provider" "Microsoft Smart Card Key Storage Provider"
!macroend

!macro CardKeys
  !insertmacro CardKey "Zorvak PIV Token" 3B9F958131FE9F0066465305100071DF0000 FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF0000
  !insertmacro CardKey "Zorvak ID Device" 3BF81300008131FE155A6F7276616B5049563031 FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF0000
!macroend

!macro DeleteCardKeys
  DeleteRegKey HKLM "${CARDS_KEY}\Zorvak PIV Token"
  DeleteRegKey HKLM "${CARDS_KEY}\Zorvak ID Device"
!macroend

Section
  SetOutPath "$WINDIR\SysWOW64"
  File "/oname=ZorvakMiniDriver.dll" "${PAYLOAD}\System32(x86)\ZorvakMiniDriver.dll"
  SetOutPath "${NATIVE_SYSDIR}"
  File "/oname=ZorvakMiniDriver.dll" "${PAYLOAD}\System32(x64)\ZorvakMiniDriver.dll"
  SetOutPath "$WINDIR\SysWOW64"
  File "${PAYLOAD}\Share\ZorvakMiniDriver.cfg"
  SetOutPath "${NATIVE_SYSDIR}"
  File "${PAYLOAD}\Share\ZorvakMiniDriver.cfg"
  ; The shipped list's folder copy: whatever the package holds for the
  ; program-files folder (nothing in the shipped package).
  SetOutPath "$INSTDIR"
  File /nonfatal /r "${PAYLOAD}\ProgramFiles(x86)\Zorvak\MiniDriver\*"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  SetRegView 32
  !insertmacro DeleteCardKeys
  SetRegView 64
  !insertmacro DeleteCardKeys
  ; The shipped list writes the 32-bit view twice: once among the steps for
  ; 64-bit Windows, once for every Windows.
  SetRegView 32
  !insertmacro CardKeys
  SetRegView 64
  !insertmacro CardKeys
  SetRegView 32
  !insertmacro CardKeys
  WriteRegDWORD HKLM "${PRODUCT_KEY}" "Language" 1
  WriteRegStr HKLM "${PRODUCT_KEY}" "DisplayName" "Zorvak Smart Card Minidriver"
  WriteRegStr HKLM "${PRODUCT_KEY}" "Publisher" "Zorvak"
  WriteRegStr HKLM "${PRODUCT_KEY}" "DisplayVersion" "1.0.0.0"
  WriteRegStr HKLM "${PRODUCT_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${PRODUCT_KEY}" "DisplayIcon" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${PRODUCT_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegStr HKLM "${PRODUCT_KEY}" "InstallLocation" "$INSTDIR"
  ; The size in KB, counted at install time as ours is: what was installed.
  ${GetSize} "$INSTDIR" "/S=0B" $0 $1 $2
  !insertmacro AddFileSize "$WINDIR\SysWOW64\ZorvakMiniDriver.dll"
  !insertmacro AddFileSize "$WINDIR\SysWOW64\ZorvakMiniDriver.cfg"
  !insertmacro AddFileSize "${NATIVE_SYSDIR}\ZorvakMiniDriver.dll"
  !insertmacro AddFileSize "${NATIVE_SYSDIR}\ZorvakMiniDriver.cfg"
  IntOp $0 $0 + 1023
  IntOp $0 $0 / 1024
  WriteRegDWORD HKLM "${PRODUCT_KEY}" "EstimatedSize" $0
  ${GetTime} "" "L" $0 $1 $2 $3 $4 $5 $6
  WriteRegStr HKLM "${PRODUCT_KEY}" "InstallDate" "$2$1$0"
  WriteRegDWORD HKLM "${PRODUCT_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${PRODUCT_KEY}" "NoRepair" 1

  SetShellVarContext all
  CreateDirectory "${MENU_DIR}"
  CreateShortCut "${MENU_DIR}\Uninstall.lnk" "$INSTDIR\Uninstall.exe" "" "$INSTDIR\Uninstall.exe" 0
  ; The shipped list's CreateShortcut step also tells the shell that file
  ; associations changed (SHCNE_ASSOCCHANGED, SHCNF_IDLIST).
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd

Section "Uninstall"
  Delete "$WINDIR\SysWOW64\ZorvakMiniDriver.dll"
  Delete "$WINDIR\SysWOW64\ZorvakMiniDriver.cfg"
  Delete "${NATIVE_SYSDIR}\ZorvakMiniDriver.dll"
  Delete "${NATIVE_SYSDIR}\ZorvakMiniDriver.cfg"
  RMDir /r "$INSTDIR"
  RMDir "$PROGRAMFILES32\Zorvak"
  SetShellVarContext all
  Delete "${MENU_DIR}\Uninstall.lnk"
  RMDir "${MENU_DIR}"
  SetRegView 32
  !insertmacro DeleteCardKeys
  DeleteRegKey HKLM "${PRODUCT_KEY}"
  SetRegView 64
  !insertmacro DeleteCardKeys
SectionEnd
