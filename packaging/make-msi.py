#!/usr/bin/python3
"""Builds a Windows Installer package of one release archive's files with wixl (msitools), byte for
byte the same for the same inputs.

Usage: make-msi.py LIST ARCHIVE OUT.msi VERSION EPOCH [--library DLL] [--signed DIR] [--url URL]

LIST and ARCHIVE are those of make-archives.py: the package installs exactly the files the archive
holds, per machine, into "Flashwright" under the 32-bit Program Files folder, with a Start-menu
shortcut to the window and an Add/Remove Programs entry. --library adds the vendor's update library
(the release package); the simulator kit brings its own. VERSION is the programs' four-part file
version. --url is the project's web page, the Add/Remove Programs entry's help and about links;
without it both open the installed README.txt.

The support kit's recorder (flashwright-recorder.dll) comes as the feature "Recorder", off by
default: ADDLOCAL=Complete,Recorder installs it with the programs (ADDLOCAL names every feature to
install, the programs' own, Complete, too). Support's recording switch (`flashwright-cli support
record on`, a registry value only the programs know the place of) is turned off at uninstall by
running the installed `flashwright-cli support record off` before the files and the package's
registry values go; an upgrade leaves it as it is.

Beside the programs it registers the Application log's event source "Flashwright" (its messages in
flashwright-cli.exe) and creates the data folder %ProgramData%\Flashwright with Logs and recordings,
owned by Administrators, with SYSTEM and Administrators in full control and Users reading (not Logs), nothing
inherited. Uninstalling removes the event source and those of the three folders that are empty:
the logs stay.

What wixl cannot do is done afterwards with msitools' own msibuild and with olefile:
- Windows Installer compares only the first three parts of a version, so a major upgrade must also
  take an installed product of the same three parts: the upgrade row gets "maximum inclusive".
  Going back to an older fourth part is refused by a launch condition on the installed version,
  written zero-padded to the registry so that it compares as text.
- wixl leaves the File table's versions empty, so that a repair would not replace a program someone
  modified: each PE file with a version record gets its version and language, and loses its hash
  (hashes are for unversioned files); one without stays unversioned.
- wixl knows no expandable registry value ("#%"), sequences a property-setting action after
  InstallFinalize unless told, and has no MsiLockPermissionsEx table: the rows are corrected or
  added with msibuild.
- wixl stamps the summary information with the time of the build and a random package code: the
  times become EPOCH and the package code is derived from the package's own bytes.
"""
import hashlib
import os
import runpy
import shutil
import subprocess
import sys
import tempfile
import types
import uuid
from pathlib import Path
from xml.sax.saxutils import quoteattr

import olefile

HERE = Path(__file__).resolve().parent
# Fixed for every Flashwright package: the kit and the release replace each other in place.
UPGRADE_CODE = "5A0E8C64-3B0B-4F4B-9A35-2E8F3F0C61D7"
NAMESPACE = uuid.UUID("0F6D5B8E-7C1A-4E0B-8B4D-6A2C9E1F3B57")
MANUFACTURER = "Flashwright developers"
EVENT_SOURCE_KEY = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Flashwright"
# The data folder and both of its folders: owned by Administrators, SYSTEM and Administrators in
# full control, Users reading and listing (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE), protected
# from inheritance (P) so that nothing granted on ProgramData reaches it. SDDL names the groups by
# well-known SID, whatever the language of Windows, which LockPermissions' names cannot, and
# LockPermissions can neither set the owner nor stop inheritance.
DATA_FOLDER_SDDL = "O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
# Logs is for SYSTEM and Administrators alone: a user who may open the log may also lock it.
LOGS_FOLDER_SDDL = "O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
# The recorder: the support kit's file, the MSIs' optional feature.
RECORDER = "flashwright-recorder.dll"
# Runs the installed flashwright-cli.exe (a File-table key) deferred, as the system
# (msidbCustomActionTypeExe + SourceFile, InScript, NoImpersonate), its exit code ignored
# (Continue): an uninstall never fails for it.
RECORDING_OFF_TYPE = 2 + 16 + 64 + 1024 + 2048
DATA_FOLDERS = (("DATADIR", "C_DataFolder"), ("LOGSDIR", "C_LogsFolder"),
                ("RECORDINGSDIR", "C_RecordingsFolder"))
SUMMARY = "\x05SummaryInformation"
PID_REVISION, PID_CREATED, PID_SAVED = 9, 12, 13
VT_LPSTR, VT_FILETIME = 30, 64


def load_archive_list():
    return types.SimpleNamespace(**runpy.run_path(str(HERE / "make-archives.py")))


def guid(name):
    return str(uuid.uuid5(NAMESPACE, name)).upper()


def pe_version(data):
    """The file version ("a.b.c.d") and language (decimal LANGID) of a PE file's version resource,
    read from its VS_FIXEDFILEINFO; None when `data` is no PE file or has no version resource.
    Windows Installer replaces a versioned file by version rules (an equal version too, on a
    repair), an unversioned one only when it was not modified since it was installed."""
    def u16(at):
        return int.from_bytes(data[at:at + 2], "little")

    def u32(at):
        return int.from_bytes(data[at:at + 4], "little")

    if data[:2] != b"MZ" or data[u32(0x3C):u32(0x3C) + 4] != b"PE\0\0":
        return None
    header = u32(0x3C) + 4
    optional = header + 20
    directories = optional + (96 if u16(optional) == 0x10B else 112)
    if u32(directories - 4) < 3 or not u32(directories + 16):
        return None
    sections = [(u32(at + 12), max(u32(at + 8), u32(at + 16)), u32(at + 20))
                for at in range(optional + u16(header + 16), optional + u16(header + 16)
                                + 40 * u16(header + 2), 40)]

    def offset(rva):
        return next((raw + rva - start for start, size, raw in sections
                     if start <= rva < start + size), None)

    resources = offset(u32(directories + 16))

    def entries(table):  # (id or name offset, target) of one resource directory
        count = u16(table + 12) + u16(table + 14)
        return [(u32(table + 16 + 8 * i), u32(table + 20 + 8 * i)) for i in range(count)]

    if resources is None:
        return None
    RT_VERSION, SUBDIRECTORY = 16, 0x80000000
    kinds = [target for key, target in entries(resources) if key == RT_VERSION]
    if not kinds or not kinds[0] & SUBDIRECTORY:
        return None
    names = entries(resources + (kinds[0] & ~SUBDIRECTORY))
    if not names or not names[0][1] & SUBDIRECTORY:
        return None
    languages = entries(resources + (names[0][1] & ~SUBDIRECTORY))
    if not languages or languages[0][1] & SUBDIRECTORY:
        return None
    language, leaf = languages[0]
    start = offset(u32(resources + leaf))
    if start is None:
        return None
    block = data[start:start + u32(resources + leaf + 4)]
    fixed = block.find(b"\xbd\x04\xef\xfe")  # VS_FIXEDFILEINFO's signature
    if fixed < 0 or len(block) < fixed + 16:
        return None
    high = int.from_bytes(block[fixed + 8:fixed + 12], "little")
    low = int.from_bytes(block[fixed + 12:fixed + 16], "little")
    return f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}", str(language)


def version_key(version):
    return ".".join(f"{int(part):05d}" for part in version.split("."))


def stage(entries, staging, content, signed_dir, epoch):
    """Copies each file as the archive holds it into `staging`, dated EPOCH (the cabinet keeps
    file times)."""
    for entry, (kind, source) in entries.items():
        target = staging / entry
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(content(kind, source, signed_dir))
        os.utime(target, (epoch, epoch))


def table_name(entry):
    return entry.replace("/", "_").replace("-", "_")


def component(entry, indent):
    name = table_name(entry)
    return (f'{indent}<Component Id={quoteattr("C_" + name)} Guid="{guid("file/" + entry)}">\n'
            f'{indent}  <File Id={quoteattr("F_" + name)} Source={quoteattr("files/" + entry)} '
            f'KeyPath="yes"/>\n{indent}</Component>\n')


def directory_xml(entries):
    """The install folder's tree: files at the top, then one Directory per subfolder."""
    top = sorted(e for e in entries if "/" not in e)
    folders = {}
    for entry in sorted(e for e in entries if "/" in e):
        folders.setdefault(entry.split("/")[0], []).append(entry)
    text = "".join(component(e, "          ") for e in top)
    for folder, inside in sorted(folders.items()):
        text += f'          <Directory Id={quoteattr("D_" + folder)} Name={quoteattr(folder)}>\n'
        text += "".join(component(e, "            ") for e in inside)
        text += "          </Directory>\n"
    return text


def links_xml(url):
    """The Add/Remove Programs entry's links: the project's page, or else the installed README,
    whose folder is known only once costing has resolved INSTALLDIR (a type 51 action formats it;
    the ARP properties themselves are written as they are)."""
    if url:
        return (f'    <Property Id="ARPHELPLINK" Value={quoteattr(url)}/>\n'
                f'    <Property Id="ARPURLINFOABOUT" Value={quoteattr(url)}/>\n')
    return "".join(f'    <CustomAction Id="Set{name}" Property="{name}" Value="[INSTALLDIR]README.txt"/>\n'
                   for name in ("ARPHELPLINK", "ARPURLINFOABOUT"))


def data_folder_xml():
    folder = '<Component Id="{}" Guid="{}"><CreateFolder/></Component>'
    (top, top_component), (logs, logs_component), (recordings, recordings_component) = DATA_FOLDERS
    return f"""      <Directory Id="CommonAppDataFolder">
        <Directory Id="{top}" Name="Flashwright">
          {folder.format(top_component, guid("folder/data"))}
          <Directory Id="{logs}" Name="Logs">
            {folder.format(logs_component, guid("folder/data/Logs"))}
          </Directory>
          <Directory Id="{recordings}" Name="recordings">
            {folder.format(recordings_component, guid("folder/data/recordings"))}
          </Directory>
        </Directory>
      </Directory>
"""


def wxs(entries, product_name, version, product_code, url):
    extra = ["C_VersionKey", "C_Shortcut", "C_EventSource"] + [c for _, c in DATA_FOLDERS]
    refs = "".join(f'      <ComponentRef Id={quoteattr(c)}/>\n'
                   for c in ["C_" + table_name(e) for e in sorted(entries) if e != RECORDER]
                   + extra)
    recorder = (f'      <Feature Id="Recorder" Level="2" Title="Recorder for support">\n'
                f'        <ComponentRef Id={quoteattr("C_" + table_name(RECORDER))}/>\n'
                f'      </Feature>\n' if RECORDER in entries else "")
    actions = ["SetARPINSTALLLOCATION"] + ([] if url else ["SetARPHELPLINK", "SetARPURLINFOABOUT"])
    # Right after CostFinalize, which resolves INSTALLDIR, long before RegisterProduct.
    sequence = "".join(f'      <Custom Action="{a}" Sequence="{1001 + i}"/>\n'
                       for i, a in enumerate(actions))
    key = version_key(version)
    return f"""<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="{product_code}" Name={quoteattr(product_name)} Language="1033"
           Version="{version}" Manufacturer="{MANUFACTURER}" UpgradeCode="{UPGRADE_CODE}">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine"
             Description={quoteattr(product_name)} Comments="Brings the firmware of USB storage bridges to version 00.01.01.07."/>
    <MajorUpgrade DowngradeErrorMessage="A newer version of Flashwright is already installed. Uninstall it first to install this one."/>
    <Property Id="INSTALLEDVERSIONKEY">
      <RegistrySearch Id="InstalledVersionKey" Root="HKLM" Key="Software\\Flashwright" Name="VersionKey" Type="raw"/>
    </Property>
    <Condition Message="A newer version of Flashwright is already installed. Uninstall it first to install this one.">Installed OR NOT INSTALLEDVERSIONKEY OR INSTALLEDVERSIONKEY &lt;= "{key}"</Condition>
    <Media Id="1" Cabinet="flashwright.cab" EmbedCab="yes"/>
    <Icon Id="Flashwright.ico" SourceFile="Flashwright.ico"/>
    <Property Id="ARPPRODUCTICON" Value="Flashwright.ico"/>
    <Property Id="ARPNOMODIFY" Value="1"/>
    <Property Id="ARPCOMMENTS" Value="Brings the firmware of USB storage bridges to version 00.01.01.07."/>
    <CustomAction Id="SetARPINSTALLLOCATION" Property="ARPINSTALLLOCATION" Value="[INSTALLDIR]"/>
{links_xml(url)}    <InstallExecuteSequence>
{sequence}    </InstallExecuteSequence>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Flashwright">
{directory_xml(entries)}          <Component Id="C_VersionKey" Guid="{guid("registry/VersionKey")}">
            <RegistryValue Root="HKLM" Key="Software\\Flashwright" Name="VersionKey" Type="string" Value="{key}" KeyPath="yes"/>
          </Component>
          <Component Id="C_EventSource" Guid="{guid("registry/EventSource")}">
            <RegistryValue Root="HKLM" Key="{EVENT_SOURCE_KEY}" Name="EventMessageFile" Type="string" Value="[INSTALLDIR]flashwright-cli.exe" KeyPath="yes"/>
            <RegistryValue Root="HKLM" Key="{EVENT_SOURCE_KEY}" Name="TypesSupported" Type="integer" Value="7"/>
          </Component>
        </Directory>
      </Directory>
      <Directory Id="ProgramMenuFolder">
        <Component Id="C_Shortcut" Guid="{guid("shortcut/Flashwright")}">
          <Shortcut Id="S_Flashwright" Name="Flashwright" Description="Update the firmware of a USB storage bridge"
                    Target="[INSTALLDIR]Flashwright.exe" WorkingDirectory="INSTALLDIR"/>
          <RegistryValue Root="HKLM" Key="Software\\Flashwright" Name="StartMenuShortcut" Type="integer" Value="1" KeyPath="yes"/>
        </Component>
      </Directory>
{data_folder_xml()}    </Directory>
    <Feature Id="Complete" Level="1">
{refs}{recorder}    </Feature>
  </Product>
</Wix>
"""


def msi_query(msi, *queries):
    for query in queries:
        subprocess.run(["msibuild", str(msi), "-q", query], check=True)


def import_table(msi, work, name, columns, types, rows):
    """Adds table `name` (an .idt file: names, types, then the key's columns) to `msi`."""
    lines = ["\t".join(columns), "\t".join(types), "\t".join([name, columns[0]])]
    lines += ["\t".join(row) for row in rows]
    (work / f"{name}.idt").write_text("\r\n".join(lines) + "\r\n", encoding="ascii")
    subprocess.run(["msibuild", str(msi), "-i", str(work / f"{name}.idt")], check=True)


def complete_tables(msi, work, files):
    """What wixl leaves out (see the top of this file). `files`: entry -> staged file."""
    for entry, path in sorted(files.items()):
        found = pe_version(path.read_bytes())
        if found is None:
            continue
        version, language = found
        file_id = "F_" + table_name(entry)
        msi_query(msi, f"UPDATE `File` SET `Version` = '{version}', `Language` = '{language}' "
                       f"WHERE `File` = '{file_id}'",
                  f"DELETE FROM `MsiFileHash` WHERE `File_` = '{file_id}'")
    msi_query(msi, "UPDATE `Registry` SET `Value` = '#%[INSTALLDIR]flashwright-cli.exe' "
                   "WHERE `Name` = 'EventMessageFile'",
              # wixl marks the property setters no-impersonate, which only a deferred action has.
              "UPDATE `CustomAction` SET `Type` = 51 WHERE `Type` = 2099")
    cli = "F_" + table_name("flashwright-cli.exe")
    msi_query(msi, "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES "
                   f"('RecordingOff', {RECORDING_OFF_TYPE}, '{cli}', 'support record off')",
              # After InstallInitialize and before RemoveRegistryValues (2600), so that the key the
              # value is in is empty, and removed, when the package's own values go; not when an
              # upgrade removes the older product.
              "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES "
              "('RecordingOff', 'REMOVE~=\"ALL\" AND NOT UPGRADINGPRODUCTCODE', 2590)")
    import_table(msi, work, "MsiLockPermissionsEx",
                 ["MsiLockPermissionsEx", "LockObject", "Table", "SDDL", "Condition"],
                 ["s72", "s72", "s32", "l0", "S255"],
                 [["L_" + folder, folder, "CreateFolder",
                   LOGS_FOLDER_SDDL if folder == "LOGSDIR" else DATA_FOLDER_SDDL, ""]
                  for folder, _ in DATA_FOLDERS])


def filetime(epoch):
    return (int(epoch) * 10_000_000 + 116_444_736_000_000_000).to_bytes(8, "little")


def patch_summary(msi, epoch, revision):
    """Writes EPOCH into the creation and last-save times and `revision` (a braced GUID, the
    package code) into the revision number, in place: the stream keeps its size."""
    with olefile.OleFileIO(str(msi), write_mode=True) as ole:
        data = bytearray(ole.openstream(SUMMARY).read())
        section = int.from_bytes(data[44:48], "little")
        count = int.from_bytes(data[section + 4:section + 8], "little")
        found = set()
        for i in range(count):
            at = section + 8 + 8 * i
            pid = int.from_bytes(data[at:at + 4], "little")
            value = section + int.from_bytes(data[at + 4:at + 8], "little")
            kind = int.from_bytes(data[value:value + 4], "little")
            if pid in (PID_CREATED, PID_SAVED) and kind == VT_FILETIME:
                data[value + 4:value + 12] = filetime(epoch)
                found.add(pid)
            elif pid == PID_REVISION and kind == VT_LPSTR:
                size = int.from_bytes(data[value + 4:value + 8], "little")
                text = revision.encode("ascii") + b"\0"
                if size != len(text):
                    sys.exit(f"make-msi: unexpected package code field of {size} bytes")
                data[value + 8:value + 8 + size] = text
                found.add(pid)
        if found != {PID_REVISION, PID_CREATED, PID_SAVED}:
            sys.exit(f"make-msi: the summary information lacks {sorted({9, 12, 13} - found)}")
        ole.write_stream(SUMMARY, bytes(data))


def main(argv):
    library = signed = url = None
    while len(argv) > 5:
        option, value = argv[-2], argv[-1]
        if option == "--library":
            library = Path(value)
        elif option == "--signed":
            signed = Path(value)
        elif option == "--url":
            url = value
        else:
            sys.exit(__doc__)
        argv = argv[:-2]
    if len(argv) != 5:
        sys.exit(__doc__)
    list_path, archive, out, version, epoch = argv
    archives = load_archive_list()
    entries = dict(archives.read_list(list_path).get(archive, {}))
    if not entries:
        sys.exit(f"make-msi: {list_path} lists no archive {archive}")
    if library is not None:
        entries["ZRFWUpdateDll.dll"] = ("file", library)
    support = archives.read_list(list_path).get(archive.removesuffix("-simulator-kit")
                                                + "-support-kit", {})
    if RECORDER in support:
        entries[RECORDER] = support[RECORDER]
    kit = library is None
    product_name = "Flashwright Simulator Kit" if kit else "Flashwright"
    product_code = guid(f"product/{'kit' if kit else 'release'}/{version}")

    with tempfile.TemporaryDirectory() as work:
        work = Path(work)
        stage(entries, work / "files", archives.content, signed, int(epoch))
        shutil.copyfile(HERE.parent / "programs" / "res" / "Flashwright.ico", work / "Flashwright.ico")
        (work / "Flashwright.wxs").write_text(wxs(entries, product_name, version, product_code, url),
                                              encoding="utf-8")
        msi = work / "package.msi"
        subprocess.run(["wixl", "--arch", "x86", "-o", str(msi), "Flashwright.wxs"], cwd=work,
                       check=True)
        # A same-three-part version is an upgrade too (msidbUpgradeAttributesVersionMaxInclusive).
        # Attributes is part of the table's key, which SQL cannot update: the table is rewritten.
        upgrade = subprocess.run(["msiinfo", "export", str(msi), "Upgrade"], check=True,
                                 capture_output=True, text=True).stdout
        rows = upgrade.splitlines()
        for i, row in enumerate(rows[3:], 3):
            fields = row.split("\t")
            if fields[-1] == "WIX_UPGRADE_DETECTED":
                fields[4] = str(int(fields[4]) | 0x200)
                rows[i] = "\t".join(fields)
        (work / "Upgrade.idt").write_text("\r\n".join(rows) + "\r\n", encoding="ascii")
        subprocess.run(["msibuild", str(msi), "-i", str(work / "Upgrade.idt")], check=True)
        complete_tables(msi, work, {entry: work / "files" / entry for entry in entries})
        patch_summary(msi, epoch, "{00000000-0000-0000-0000-000000000000}")
        package_code = "{" + guid("package/" + hashlib.sha256(msi.read_bytes()).hexdigest()) + "}"
        patch_summary(msi, epoch, package_code)
        shutil.copyfile(msi, out)
    print(Path(out).name)


if __name__ == "__main__":
    main(sys.argv[1:])
