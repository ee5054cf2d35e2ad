; TervolinSetup.exe: installs Tervolin on a Windows machine: Tervolin.dll with
; its debug information and its German resources, the command-line host
; tervolin.exe, the launcher without a console, tervolinw.exe, and the
; README; a Start-menu shortcut for each wizard and shell verbs on the files
; the wizards open. The finish page offers to show the README and to start
; the Import Waypoints Wizard.
;
;   TervolinSetup.exe [/S] [/AllUsers | /CurrentUser] [/D=FOLDER]
;
; For every user of the machine (an administrator's default, asks for
; elevation): the files go to $PROGRAMFILES\Norvask\Tervolin, the COM
; classes, shell verbs and the uninstall entry to HKEY_LOCAL_MACHINE and the
; shortcuts to the common Start menu. For the current user only
; (/CurrentUser, or whenever the user is no administrator): the user's own
; programs folder (%LOCALAPPDATA%\Programs\Norvask\Tervolin), HKEY_CURRENT_USER
; and the user's Start menu. /S installs silently; installing again over an
; existing installation updates it in its folder.
;
; The uninstaller (Uninstall.exe in the installation folder, also /S)
; unregisters the COM server and removes exactly what was installed; the
; user's settings under HKEY_CURRENT_USER\Software\Norvask\Tervolin and the
; exception log stay.
;
; The build passes VERSION (four numbers), BINDIR (the built binaries),
; RESOURCES (the resource folder, for the icon and pictures), README (the
; README file) and OUTFILE with -D.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel highest
ManifestSupportedOS all
AllowSkipFiles off

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define PRODUCT "Tervolin"
!define PUBLISHER "Norvask"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tervolin"
!define FOLDER "Norvask\Tervolin"
!define UNINSTALLER "Uninstall.exe"
!define LAUNCHER "tervolinw.exe"
!define ASSOCIATIONS "Software\Classes\SystemFileAssociations"

; The version shows in the title and on the welcome page.
Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "${PUBLISHER} ${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

; 1 for every user of the machine, 0 for the current user.
Var AllUsers

!define MUI_ABORTWARNING
!define MUI_ICON "${RESOURCES}\ui\Tervolin.ico"
!define MUI_UNICON "${RESOURCES}\ui\Tervolin.ico"
; The product's own pictures, drawn by scripts/make-pictures.py.
!define MUI_WELCOMEFINISHPAGE_BITMAP "${RESOURCES}\ui\SetupWatermark.bmp"
!define MUI_UNWELCOMEFINISHPAGE_BITMAP "${RESOURCES}\ui\SetupWatermark.bmp"
!define MUI_HEADERIMAGE
!define MUI_HEADERIMAGE_RIGHT
!define MUI_HEADERIMAGE_BITMAP "${RESOURCES}\ui\SetupHeader.bmp"
!define MUI_HEADERIMAGE_UNBITMAP "${RESOURCES}\ui\SetupHeader.bmp"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!define MUI_FINISHPAGE_RUN "$INSTDIR\${LAUNCHER}"
!define MUI_FINISHPAGE_RUN_PARAMETERS "wizard waypoints"
!define MUI_FINISHPAGE_RUN_TEXT "$(StartWizard)"
!define MUI_FINISHPAGE_RUN_NOTCHECKED
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The first language is the one for users whose language is neither.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"

LangString RegistrationFailed ${LANG_ENGLISH} \
    "The automation classes of Tervolin could not be registered (regsvr32 ended with code $0)."
LangString RegistrationFailed ${LANG_GERMAN} \
    "Die Automatisierungsklassen von Tervolin konnten nicht registriert werden (regsvr32 endete mit Code $0)."
LangString StartWizard ${LANG_ENGLISH} "Start the Import Waypoints Wizard"
LangString StartWizard ${LANG_GERMAN} "Assistenten für den Wegpunktimport starten"
LangString UnregistrationFailed ${LANG_ENGLISH} \
    "The registration of the automation classes could not be removed (regsvr32 ended with code $0)."
LangString UnregistrationFailed ${LANG_GERMAN} \
    "Die Registrierung der Automatisierungsklassen konnte nicht entfernt werden (regsvr32 endete mit Code $0)."

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}"

; One Start-menu shortcut per wizard, named in the language of the
; installation: English name, German name, the launcher's wizard. The
; product's folder names the product, so the shortcuts do not repeat it.
!macro Shortcuts OPERATION
    !insertmacro ${OPERATION} "Import KML Waypoints Wizard" "Assistent für den KML-Wegpunktimport" kml
    !insertmacro ${OPERATION} "Import Track Wizard" "Assistent für den Trackimport" track
    !insertmacro ${OPERATION} "Import Waypoints Wizard" "Assistent für den Wegpunktimport" waypoints
    !insertmacro ${OPERATION} "Map Wizard" "Kartenassistent" map
    !insertmacro ${OPERATION} "Export Wizard" "Exportassistent" export
!macroend

!macro CreateShortcut ENGLISH GERMAN WIZARD
    ${If} $LANGUAGE == ${LANG_GERMAN}
        StrCpy $R0 "${GERMAN}"
    ${Else}
        StrCpy $R0 "${ENGLISH}"
    ${EndIf}
    CreateShortCut "$SMPROGRAMS\${PRODUCT}\$R0.lnk" "$INSTDIR\${LAUNCHER}" "wizard ${WIZARD}" "$INSTDIR\Tervolin.dll" 0
!macroend

; Either language's shortcut, whichever an earlier installation made, also
; under the earlier names that began with the product's.
!macro DeleteShortcut ENGLISH GERMAN WIZARD
    Delete "$SMPROGRAMS\${PRODUCT}\${ENGLISH}.lnk"
    Delete "$SMPROGRAMS\${PRODUCT}\${GERMAN}.lnk"
    Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT} ${ENGLISH}.lnk"
    Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}-${GERMAN}.lnk"
!macroend

; Shell verbs on the files the wizards open, for whatever program owns the
; file type: extension, verb key, English and German menu text (the
; installation's language picks one), the launcher's wizard. Each starts
; the wizard with the file filled in. ".img" gets no verb: on Windows it is
; every disk image; the map wizard still opens .img maps.
!macro Verbs OPERATION
    !insertmacro ${OPERATION} .kml TervolinImportWaypoints "Import into eXplorist waypoints" "In eXplorist-Wegpunkte importieren" kml
    !insertmacro ${OPERATION} .wpt TervolinImportWaypoints "Import into eXplorist waypoints" "In eXplorist-Wegpunkte importieren" waypoints
    !insertmacro ${OPERATION} .plt TervolinImportTrack "Import into eXplorist track log" "In einen eXplorist-Track importieren" track
    !insertmacro ${OPERATION} .gpx TervolinImportWaypoints "Import into eXplorist waypoints" "In eXplorist-Wegpunkte importieren" waypoints
    !insertmacro ${OPERATION} .gpx TervolinImportTrack "Import into eXplorist track log" "In einen eXplorist-Track importieren" track
    !insertmacro ${OPERATION} .upt TervolinExport "Export to GPX or KML" "Nach GPX oder KML exportieren" export
    !insertmacro ${OPERATION} .log TervolinExport "Export to GPX or KML" "Nach GPX oder KML exportieren" export
    !insertmacro ${OPERATION} .imi TervolinOpenMap "Open with Tervolin Map Wizard" "Mit dem Tervolin-Kartenassistenten öffnen" map
    !insertmacro ${OPERATION} .mgi TervolinOpenMap "Open with Tervolin Map Wizard" "Mit dem Tervolin-Kartenassistenten öffnen" map
!macroend

!macro WriteVerb EXTENSION VERB ENGLISH GERMAN WIZARD
    ${If} $LANGUAGE == ${LANG_GERMAN}
        StrCpy $R0 "${GERMAN}"
    ${Else}
        StrCpy $R0 "${ENGLISH}"
    ${EndIf}
    WriteRegStr SHCTX "${ASSOCIATIONS}\${EXTENSION}\shell\${VERB}" "" "$R0"
    WriteRegStr SHCTX "${ASSOCIATIONS}\${EXTENSION}\shell\${VERB}" "Icon" "$INSTDIR\Tervolin.dll,0"
    WriteRegStr SHCTX "${ASSOCIATIONS}\${EXTENSION}\shell\${VERB}\command" "" \
        '"$INSTDIR\${LAUNCHER}" wizard ${WIZARD} "%1"'
!macroend

; The verb, and the keys above it that only held it.
!macro DeleteVerb EXTENSION VERB ENGLISH GERMAN WIZARD
    DeleteRegKey SHCTX "${ASSOCIATIONS}\${EXTENSION}\shell\${VERB}"
    DeleteRegKey /ifempty SHCTX "${ASSOCIATIONS}\${EXTENSION}\shell"
    DeleteRegKey /ifempty SHCTX "${ASSOCIATIONS}\${EXTENSION}"
!macroend

; regsvr32 registers for the machine, "/n /i:user" for the current user
; (the DLL's DllInstall); $0 is its exit code, 0 on success.
!macro Regsvr32 ARGUMENTS
    ${If} $AllUsers == 1
        ExecWait '"$SYSDIR\regsvr32.exe" /s ${ARGUMENTS} "$INSTDIR\Tervolin.dll"' $0
    ${Else}
        ExecWait '"$SYSDIR\regsvr32.exe" /s ${ARGUMENTS} /n /i:user "$INSTDIR\Tervolin.dll"' $0
    ${EndIf}
!macroend

Function .onInit
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/CurrentUser" $R1
    ${If} ${Errors}
        UserInfo::GetAccountType
        Pop $R1
        ${If} $R1 == "Admin"
            StrCpy $AllUsers 1
        ${Else}
            StrCpy $AllUsers 0
        ${EndIf}
    ${Else}
        StrCpy $AllUsers 0
    ${EndIf}

    ${If} $AllUsers == 1
        SetShellVarContext all
    ${Else}
        SetShellVarContext current
    ${EndIf}

    ; /D= wins; else the folder of an existing installation, else the default.
    ${If} $INSTDIR == ""
        ReadRegStr $INSTDIR SHCTX "${UNINSTALL_KEY}" "InstallLocation"
    ${EndIf}
    ${If} $INSTDIR == ""
    ${AndIf} $AllUsers == 1
        StrCpy $INSTDIR "$PROGRAMFILES\${FOLDER}"
    ${ElseIf} $INSTDIR == ""
        GetKnownFolderPath $INSTDIR {5CD7AEE2-2219-4A67-B85D-6C9CE15660CB} ; the user's programs folder
        ${If} $INSTDIR == ""
            StrCpy $INSTDIR "$LOCALAPPDATA\Programs"
        ${EndIf}
        StrCpy $INSTDIR "$INSTDIR\${FOLDER}"
    ${EndIf}
FunctionEnd

Section "Tervolin"
    SectionIn RO
    SetOutPath "$INSTDIR"
    File "${BINDIR}\Tervolin.dll"
    File "${BINDIR}\Tervolin.dll.debug"
    File "${BINDIR}\Tervolin.lang-1031.dll"
    File "${BINDIR}\tervolin.exe"
    File "${BINDIR}\${LAUNCHER}"
    File "/oname=README.txt" "${README}"
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"
    Call WriteUninstallEntry

    !insertmacro Regsvr32 ""
    ${If} $0 != 0
        DetailPrint "$(RegistrationFailed)"
        MessageBox MB_OK|MB_ICONSTOP "$(RegistrationFailed)" /SD IDOK
        SetErrorLevel 2
        Abort
    ${EndIf}

    CreateDirectory "$SMPROGRAMS\${PRODUCT}"
    !insertmacro Shortcuts DeleteShortcut
    !insertmacro Shortcuts CreateShortcut
    !insertmacro Verbs WriteVerb
    !insertmacro DeleteVerb .img TervolinOpenMap "" "" map ; made by earlier versions
SectionEnd

; The entry of Apps & Features.
Function WriteUninstallEntry
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Tervolin.dll,0"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $R0 $R1 $R2
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $R0
FunctionEnd

Function un.onInit
    ; Installed for every user when the machine's entry names this folder.
    ReadRegStr $R0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $R0 == $INSTDIR
        StrCpy $AllUsers 1
        SetShellVarContext all
    ${Else}
        StrCpy $AllUsers 0
        SetShellVarContext current
    ${EndIf}
FunctionEnd

Section "Uninstall"
    !insertmacro Regsvr32 "/u"
    ${If} $0 != 0
        DetailPrint "$(UnregistrationFailed)"
    ${EndIf}
    !insertmacro Shortcuts DeleteShortcut
    RMDir "$SMPROGRAMS\${PRODUCT}"
    !insertmacro Verbs DeleteVerb
    !insertmacro DeleteVerb .img TervolinOpenMap "" "" map

    Delete "$INSTDIR\Tervolin.dll"
    Delete "$INSTDIR\Tervolin.dll.debug"
    Delete "$INSTDIR\Tervolin.lang-1031.dll"
    Delete "$INSTDIR\tervolin.exe"
    Delete "$INSTDIR\${LAUNCHER}"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\${UNINSTALLER}"
    RMDir "$INSTDIR"
    ; The maker's folder only when no other product of it is left.
    ${GetParent} "$INSTDIR" $R0
    RMDir "$R0"

    DeleteRegKey SHCTX "${UNINSTALL_KEY}"
    ; A user's class registration leaves the containers it was written
    ; into; those that hold nothing else go too.
    ${If} $AllUsers == 0
        DeleteRegKey /ifempty HKCU "Software\Classes\CLSID"
        DeleteRegKey /ifempty HKCU "Software\Classes\AppID"
        DeleteRegKey /ifempty HKCU "Software\Classes\Interface"
        DeleteRegKey /ifempty HKCU "Software\Classes\TypeLib"
    ${EndIf}
SectionEnd
