; The Windows installer, in Spanish. tools/windows/installer.sh gives it:
;   VERSION  the program's version         STAGE   the installed layout (bin\, share\tarjetas\)
;   ICON     the program's icon            OUTFILE the installer to write
; The program goes to Program Files; its registry and data live in C:\TOLVANE_FILES\, which the
; installer makes writable for every user of the PC and which neither an upgrade nor the
; uninstaller ever touches.
; A 64-bit installer for a 64-bit program (and Wine's 64-bit loader runs it in the tests).
Target amd64-unicode
SetCompressor /SOLID lzma
!include "MUI2.nsh"
!include "LogicLib.nsh"

!define APP "Tarjetas"
!define DATA_DIR "C:\TOLVANE_FILES"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarjetas"
!define APP_KEY "Software\Tarjetas"

Name "${APP} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${APP}"
InstallDirRegKey HKLM "${APP_KEY}" "InstallDir"
RequestExecutionLevel admin
BrandingText "${APP} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1034 "ProductName" "${APP}"
VIAddVersionKey /LANG=1034 "FileDescription" "Instalador de ${APP}"
VIAddVersionKey /LANG=1034 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1034 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1034 "CompanyName" "Equipo Tarjetas"
VIAddVersionKey /LANG=1034 "LegalCopyright" "Equipo Tarjetas"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TEXT "Este asistente instala ${APP} ${VERSION}, el registro de tarjetas de identificación de mascotas.$\r$\n$\r$\nEl registro de tarjetas y la configuración quedan en ${DATA_DIR}, compartidos por todos los usuarios de este equipo. Si ya tiene una versión instalada, se reemplaza el programa y el registro se conserva.$\r$\n$\r$\nCierre el programa ${APP} antes de continuar."
!define MUI_FINISHPAGE_RUN "$INSTDIR\bin\tarjetas.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Abrir ${APP} ahora"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!define MUI_UNCONFIRMPAGE_TEXT_TOP "Se quitará el programa ${APP}. El registro de tarjetas, sus respaldos y la configuración de ${DATA_DIR} se conservan: bórrelos a mano sólo si ya no los necesita."
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Spanish"

Function .onInit
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

; A running program keeps its files open: an upgrade over it would leave old and new files mixed.
!macro WaitForProgramClosed UN
Function ${UN}WaitForProgramClosed
  ${DoWhile} ${FileExists} "$INSTDIR\bin\tarjetas.exe"
    ClearErrors
    Delete "$INSTDIR\bin\tarjetas.exe"
    ${IfNot} ${Errors}
      ${Break}
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${APP} está abierto en este equipo. Ciérrelo y pulse Reintentar." /SD IDCANCEL IDRETRY retry
    Abort "${APP} está abierto: no se cambió nada."
    retry:
  ${Loop}
FunctionEnd
!macroend
!insertmacro WaitForProgramClosed ""
!insertmacro WaitForProgramClosed "un."

Section "${APP}"
  SetShellVarContext all
  Call WaitForProgramClosed
  ; An upgrade replaces the program's own folders whole, so that no file of the older version stays.
  RMDir /r "$INSTDIR\bin"
  RMDir /r "$INSTDIR\share"
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\bin"
  File /r "${STAGE}\share"
  File "/oname=tarjetas.ico" "${ICON}"

  ; The registry's folder, one for every user of the PC: Users may create and change files in it.
  CreateDirectory "${DATA_DIR}"
  nsExec::ExecToLog 'icacls "${DATA_DIR}" /grant *S-1-5-32-545:(OI)(CI)M'
  Pop $0

  SetOutPath "${DATA_DIR}"
  CreateShortCut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\bin\tarjetas.exe" "" "$INSTDIR\tarjetas.ico" 0 \
    SW_SHOWNORMAL "" "Registro de tarjetas de identificación de mascotas"
  CreateShortCut "$DESKTOP\${APP}.lnk" "$INSTDIR\bin\tarjetas.exe" "" "$INSTDIR\tarjetas.ico" 0 \
    SW_SHOWNORMAL "" "Registro de tarjetas de identificación de mascotas"

  WriteUninstaller "$INSTDIR\desinstalar.exe"
  WriteRegStr HKLM "${APP_KEY}" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${APP_KEY}" "Version" "${VERSION}"
  ; The entry of "Aplicaciones" (Apps and features) and of the Control Panel.
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "Equipo Tarjetas"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\tarjetas.ico"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\desinstalar.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\desinstalar.exe" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  SectionGetSize 0 $0
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Call un.WaitForProgramClosed
  Delete "$SMPROGRAMS\${APP}.lnk"
  Delete "$DESKTOP\${APP}.lnk"
  ; Only what the installer put there: never the folder as a whole, which may hold the user's files.
  RMDir /r "$INSTDIR\bin"
  RMDir /r "$INSTDIR\share"
  Delete "$INSTDIR\tarjetas.ico"
  Delete "$INSTDIR\desinstalar.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINST_KEY}"
  DeleteRegKey HKLM "${APP_KEY}"
  ; ${DATA_DIR} stays: the registry, its backups and the configuration are the practice's data.
SectionEnd
