#!/usr/bin/env python3
"""TervolinSetup.exe on a fresh machine: a Wine prefix of its own under the
build folder (the suite's prefix already has registrations of its own).

Silent install for every user: the files, the registration and a JScript
client, the Start-menu shortcuts and the shell verbs, each started as the
shell would start it and driven by tests/installer/wizard_probe.exe; a
second install over the first; the silent uninstall, after which nothing of
the product is left but the user's settings and the exception log; then the
same for an install for the current user only."""
import os
import re
import shutil
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.abspath(os.path.join(HERE, "..", ".."))
BUILD = os.environ["TERVOLIN_BUILD"]
SETUP = os.path.join(BUILD, "package", "TervolinSetup.exe")
PREFIX = os.path.join(BUILD, "setup-prefix")
CLIENT = "Z:" + os.path.join(TOP, "tests", "module", "automation.js")
PROBE = os.path.join(BUILD, "tests", "installer", "wizard_probe.exe")
SAMPLES = "Z:" + os.path.join(TOP, "samples").replace("/", "\\")

ENV = dict(os.environ, WINEPREFIX=PREFIX, WINEDEBUG="-all",
           # No Linux menu entries or file associations made from the shortcuts.
           WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
ENV.pop("DISPLAY", None)

MACHINE_FOLDER = r"C:\Program Files\Norvask\Tervolin"
INSTALLED_FILES = ["Tervolin.dll", "Tervolin.dll.debug", "Tervolin.lang-1031.dll", "tervolin.exe", "tervolinw.exe",
                   "README.txt", "Uninstall.exe"]
# Where the shell keeps the Start-menu programs of every user and of the user.
START_MENU = {"HKLM": "Common Programs", "HKCU": "Programs"}
# Shortcut file (in the product's folder, so without its name), the
# launcher's arguments, the wizard's caption.
SHORTCUTS = [
    ("Import KML Waypoints Wizard.lnk", "wizard kml", "Tervolin Import KML Waypoints Wizard"),
    ("Import Track Wizard.lnk", "wizard track", "Tervolin Import Track Wizard"),
    ("Import Waypoints Wizard.lnk", "wizard waypoints", "Tervolin Import Waypoints Wizard"),
    ("Map Wizard.lnk", "wizard map", "Tervolin Map Wizard"),
    ("Export Wizard.lnk", "wizard export", "Tervolin Export Wizard"),
]
# Extension, verb key, menu text, the launcher's wizard, a file to open.
# ".img" is every disk image on Windows and gets no verb.
VERBS = [
    (".kml", "TervolinImportWaypoints", "Import into eXplorist waypoints", "kml", "alpine-huts.kml"),
    (".wpt", "TervolinImportWaypoints", "Import into eXplorist waypoints", "waypoints", "lakes.wpt"),
    (".plt", "TervolinImportTrack", "Import into eXplorist track log", "track", "ridge-walk.plt"),
    (".gpx", "TervolinImportWaypoints", "Import into eXplorist waypoints", "waypoints", "ridge-walk.gpx"),
    (".gpx", "TervolinImportTrack", "Import into eXplorist track log", "track", "ridge-walk.gpx"),
    (".upt", "TervolinExport", "Export to GPX or KML", "export", None),
    (".log", "TervolinExport", "Export to GPX or KML", "export", "ridge-walk.log"),
    (".imi", "TervolinOpenMap", "Open with Tervolin Map Wizard", "map", "tervolin-sample.imi"),
    (".mgi", "TervolinOpenMap", "Open with Tervolin Map Wizard", "map", None),
]
UNINSTALL_KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\Tervolin"
MODULE_GUID = "{BE077F06-4827-42DE-B00F-6C083CAE540D}"
CLASS_IDS = ["{FBA96C3A-E33F-4C9F-80B3-2216027DD3F7}", "{B3971D44-544A-4A0B-BF6D-E61BBD32E284}"]
PROG_IDS = [f"Norvask.Tervolin.{name}{version}" for name in ("SerialConnection", "SerialInterpreter")
            for version in ("", ".1")]
PRODUCT_CLASS_KEYS = ([f"CLSID\\{clsid}" for clsid in CLASS_IDS] + PROG_IDS +
                      [f"AppID\\{MODULE_GUID}", r"AppID\Tervolin.dll", f"TypeLib\\{MODULE_GUID}"])
SETTINGS = r"HKCU\Software\Norvask\Tervolin"

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)


def wine(*args):
    return subprocess.run(["wine", *args], env=ENV, capture_output=True, text=True, errors="replace")


def wait_until(done, seconds=30):
    deadline = time.monotonic() + seconds
    while not done() and time.monotonic() < deadline:
        time.sleep(0.2)


def reg_values(key):
    """{name: data} of a key, "" naming the default value; None when absent."""
    result = wine("reg", "query", key)
    if result.returncode != 0:
        return None
    values = {}
    for line in result.stdout.splitlines():
        match = re.match(r"^    (.*?)    (REG_\w+)    ?(.*)$", line.rstrip("\r"))
        if match:
            values["" if match[1] == "(Default)" else match[1]] = match[3]
    return values


def reg_subkeys(key):
    """Names of the direct subkeys of a key."""
    lines = wine("reg", "query", key).stdout.splitlines()
    return [line.strip().rsplit("\\", 1)[1] for line in lines[1:] if line.startswith("HKEY_")]


def linux_path(windows_path):
    """The file of a C: path inside the prefix."""
    relative = windows_path[3:].replace("\\", "/")
    return os.path.join(PREFIX, "drive_c", relative)


def run_client(label):
    output = wine("cscript", "//nologo", CLIENT).stdout.replace("\r", "")
    lines = output.strip().splitlines()
    # Wine's cscript exits with 0 after a script error: the last line decides.
    check(lines[-1:] == ["0 failure(s)"], f"{label}: JScript client says {output!r}")


def install(label, *options):
    result = wine(SETUP, "/S", *options)
    check(result.returncode == 0, f"{label}: setup ended with {result.returncode}")


def uninstall(label, root, folder):
    result = wine(folder + "\\Uninstall.exe", "/S")
    check(result.returncode == 0, f"{label}: uninstaller ended with {result.returncode}")
    # The started uninstaller returns at once and a copy of it does the work;
    # removing its entry is the last step.
    wait_until(lambda: reg_values(f"{root}\\{UNINSTALL_KEY}") is None)


def read_shortcut(path):
    """(target path, arguments) of a shell link file."""
    data = open(path, "rb").read()
    flags = struct.unpack_from("<I", data, 0x14)[0]
    position = 0x4C
    if flags & 0x01:  # an item id list
        position += 2 + struct.unpack_from("<H", data, position)[0]
    target = ""
    if flags & 0x02:  # link information with the local path
        size, _, _, _, local_path = struct.unpack_from("<IIIII", data, position)
        target = data[position + local_path:data.index(b"\0", position + local_path)].decode("cp1252")
        position += size
    strings = []
    for bit in (0x04, 0x08, 0x10, 0x20):  # name, relative path, working folder, arguments
        if flags & bit:
            length = struct.unpack_from("<H", data, position)[0]
            # Wine counts the terminating NUL as a character.
            strings.append(data[position + 2:position + 2 + 2 * length].decode("utf-16-le").rstrip("\0"))
            position += 2 + 2 * length
        else:
            strings.append("")
    return target, strings[3]


def probe(*steps_and_command):
    """Output lines of wizard_probe.exe for the steps and a command line."""
    result = wine(PROBE, *steps_and_command)
    return result.returncode, result.stdout.replace("\r", "").splitlines()


def check_shortcuts(label, start_menu, folder, drive):
    launcher = (folder + "\\tervolinw.exe").lower()
    for name, arguments, caption in SHORTCUTS:
        path = linux_path(start_menu + "\\" + name)
        if not os.path.isfile(path):
            check(False, f"{label}: shortcut {name} is missing")
            continue
        target, shortcut_arguments = read_shortcut(path)
        check((target.lower(), shortcut_arguments) == (launcher, arguments),
              f"{label}: {name} starts {target!r} {shortcut_arguments!r}")
    if not drive:
        return
    # Started as the Start menu starts it, the wizard opens and closes.
    name, arguments, caption = SHORTCUTS[1]
    code, lines = probe("dump", "cancel", "--", folder + "\\tervolinw.exe", *arguments.split())
    check(code == 0 and f"caption: {caption}" in lines and "exit: 0" in lines, f"{label}: {name} shows {lines}")


def check_verbs(label, classes, folder, drive):
    check(reg_values(f"{classes}\\SystemFileAssociations\\.img\\shell\\TervolinOpenMap") is None,
          f"{label}: a verb on .img")
    for extension, verb, text, wizard, sample in VERBS:
        key = f"{classes}\\SystemFileAssociations\\{extension}\\shell\\{verb}"
        check((reg_values(key) or {}).get("") == text, f"{label}: {extension} verb text {reg_values(key)}")
        command = (reg_values(key + "\\command") or {}).get("", "")
        check(command.lower() == f'"{folder}\\tervolinw.exe" wizard {wizard} "%1"'.lower(),
              f"{label}: {extension} verb command {command!r}")
        if drive and sample and command:
            # As the shell runs it: %1 replaced by the file; the wizard's
            # first content page shows the file.
            path = SAMPLES + "\\" + sample
            words = [quoted or plain for quoted, plain in re.findall(r'"([^"]*)"|(\S+)', command)]
            code, lines = probe("next", "dump", "cancel", "--", *[path if word == "%1" else word for word in words])
            check(code == 0 and any(line.endswith(": " + path) for line in lines),
                  f"{label}: the {extension} verb's wizard shows {lines}")


# The Locale setting, the track wizard's caption, the words of the error box
# for a track in another datum (a failure code of the module's own) and the
# question of Cancel: German from the satellite, English from the module
# itself, also for a language without a satellite.
LANGUAGES = [
    (1031, "Tervolin-Assistent für den Trackimport", "das Kartendatum ist nicht WGS 84",
     "Möchten Sie den Assistenten wirklich schließen?"),
    (1033, "Tervolin Import Track Wizard", "the datum is not WGS 84", "Do you really want to close the wizard?"),
    (1036, "Tervolin Import Track Wizard", "the datum is not WGS 84", "Do you really want to close the wizard?"),
]


def check_languages(label, folder):
    track = r"C:\users\Public\Documents\other-datum.plt"
    sample = open(os.path.join(TOP, "samples", "ridge-walk.plt"), "rb").read()
    with open(linux_path(track), "wb") as file:
        file.write(sample.replace(b"WGS 84", b"European 1950", 1))
    for locale, caption, words, question in LANGUAGES:
        wine("reg", "add", SETTINGS + r"\Locale", "/v", "Tervolin", "/t", "REG_DWORD", "/d", str(locale), "/f")
        code, lines = probe("dump", "next", "set", "217", r"C:\users\Public\Documents\track.log", "next",
                            "cancel", "--", folder + "\\tervolinw.exe", "wizard", "track", track)
        messages = [line for line in lines if line.startswith("message: ")]
        check(code == 0 and f"caption: {caption}" in lines and len(messages) == 2 and
              messages[0].endswith(words) and messages[1].endswith("| " + question),
              f"{label}: Locale {locale} shows {lines}")
    wine("reg", "delete", SETTINGS + r"\Locale", "/v", "Tervolin", "/f")


def check_installed(label, root, classes, folder, drive=False):
    for name in INSTALLED_FILES:
        check(os.path.isfile(linux_path(folder + "\\" + name)), f"{label}: {name} is missing")
    for clsid in CLASS_IDS:
        server = reg_values(f"{classes}\\CLSID\\{clsid}\\InprocServer32") or {}
        check(server.get("", "").lower() == (folder + "\\Tervolin.dll").lower(),
              f"{label}: {clsid} InprocServer32 is {server.get('')!r}")
    entry = reg_values(f"{root}\\{UNINSTALL_KEY}") or {}
    expected = {"DisplayName": "Tervolin", "Publisher": "Norvask", "DisplayVersion": version(),
                "UninstallString": f'"{folder}\\Uninstall.exe"', "InstallLocation": folder}
    for name, data in expected.items():
        check(entry.get(name, "").lower() == data.lower(), f"{label}: uninstall entry {name} is {entry.get(name)!r}")
    check(int(entry.get("EstimatedSize", "0"), 16) > 1000, f"{label}: EstimatedSize is {entry.get('EstimatedSize')!r}")
    entries = [key for key in reg_subkeys(f"{root}\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall")
               if (reg_values(f"{root}\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{key}") or {})
               .get("DisplayName") == "Tervolin"]
    check(len(entries) == 1, f"{label}: uninstall entries {entries}")
    check_shortcuts(label, start_menu(root), folder, drive)
    check_verbs(label, classes, folder, drive)


def start_menu(root):
    name = START_MENU[root]
    folders = reg_values(root + r"\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders") or {}
    return folders.get(name, "(no Start menu)") + r"\Tervolin"


def check_removed(label, root, classes, folder):
    check(not os.path.exists(linux_path(folder)), f"{label}: {folder} is still there")
    check(not os.path.exists(linux_path(start_menu(root))), f"{label}: the Start-menu folder is still there")
    for extension, verb, *_ in VERBS:
        key = f"{classes}\\SystemFileAssociations\\{extension}"
        check(reg_values(key) is None, f"{label}: {key} is still there")
    check(not os.path.exists(os.path.dirname(linux_path(folder))), f"{label}: the Norvask folder is still there")
    for key in [f"{classes}\\{key}" for key in PRODUCT_CLASS_KEYS] + [f"{root}\\{UNINSTALL_KEY}"]:
        check(reg_values(key) is None, f"{label}: {key} is still there")


def version():
    text = open(os.path.join(TOP, "resources", "version.h")).read()
    return re.search(r'TERVOLIN_VERSION_TEXT "([0-9.]+)"', text)[1]


def start_fresh_prefix():
    shutil.rmtree(PREFIX, ignore_errors=True)
    subprocess.run([os.path.join(TOP, "scripts", "wine-prefix"), "start"], env=ENV, check=True)


def keep_user_settings():
    """What a user leaves behind by using the wizards: settings and a log."""
    wine("reg", "add", SETTINGS + r"\Confirmations", "/v", "CImportTrackWizard::CIntroductionPage",
         "/t", "REG_DWORD", "/d", "1", "/f")
    wine("reg", "add", SETTINGS + r"\Locale", "/v", "Tervolin", "/t", "REG_DWORD", "/d", "1031", "/f")
    with open(linux_path(r"C:\windows\Tervolin.log"), "w") as log:
        log.write("an earlier report\n")


def check_user_settings(label):
    check((reg_values(SETTINGS + r"\Confirmations") or {}).get("CImportTrackWizard::CIntroductionPage") == "0x1",
          f"{label}: the Confirmations setting is gone")
    check((reg_values(SETTINGS + r"\Locale") or {}).get("Tervolin") == "0x407", f"{label}: the Locale setting is gone")
    check(os.path.isfile(linux_path(r"C:\windows\Tervolin.log")), f"{label}: the exception log is gone")


def machine_install():
    classes = r"HKLM\Software\Classes"
    install("install")
    check_installed("install", "HKLM", classes, MACHINE_FOLDER, drive=True)
    run_client("install")

    install("second install")
    check_installed("second install", "HKLM", classes, MACHINE_FOLDER)
    run_client("second install")

    keep_user_settings()
    uninstall("uninstall", "HKLM", MACHINE_FOLDER)
    check_removed("uninstall", "HKLM", classes, MACHINE_FOLDER)
    check_user_settings("uninstall")


def user_install():
    classes = r"HKCU\Software\Classes"
    wine("reg", "delete", SETTINGS, "/f")  # a user who has not used the wizards yet
    install("user install", "/CurrentUser")
    folder = (reg_values(r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tervolin") or {}).get(
        "InstallLocation", "")
    check(re.fullmatch(r"C:\\users\\[^\\]+\\AppData\\Local\\Programs\\Norvask\\Tervolin", folder, re.I),
          f"user install: folder {folder!r}")
    check_installed("user install", "HKCU", classes, folder)
    for key in PRODUCT_CLASS_KEYS:
        check(reg_values(f"HKLM\\Software\\Classes\\{key}") is None, f"user install: {key} is in HKLM")
    check(reg_values(f"HKLM\\{UNINSTALL_KEY}") is None, "user install: an uninstall entry in HKLM")

    # Windows merges the user's classes into HKEY_CLASSES_ROOT; Wine's COM
    # reads the machine's only. The client sees what a Windows client would
    # once the user's classes are merged the same way.
    wine("reg", "copy", classes, r"HKLM\Software\Classes", "/s", "/f")
    run_client("user install")

    check_languages("user install", folder)

    uninstall("user uninstall", "HKCU", folder)
    check_removed("user uninstall", "HKCU", classes, folder)
    for container in ("CLSID", "AppID", "Interface", "TypeLib"):
        check(reg_values(f"{classes}\\{container}") is None, f"user uninstall: empty {container} key left")


def main():
    if os.environ.get("TERVOLIN_WINEARCH") == "win64":
        # The installer is a 32-bit program: it is checked only where 32-bit
        # programs run.
        print("skipped: the installer needs 32-bit Wine, and this build is the 64-bit test build")
        return 77
    if not os.path.isfile(SETUP):
        print("TervolinSetup.exe was not built")
        return 1
    start_fresh_prefix()
    try:
        machine_install()
        user_install()
    finally:
        subprocess.run([os.path.join(TOP, "scripts", "wine-prefix"), "stop"], env=ENV)
    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
