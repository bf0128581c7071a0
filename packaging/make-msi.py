#!/usr/bin/python3
"""Builds a Windows Installer package of one release archive's files with wixl (msitools), byte for
byte the same for the same inputs.

Usage: make-msi.py LIST ARCHIVE OUT.msi VERSION EPOCH [--library DLL] [--signed DIR]

LIST and ARCHIVE are those of make-archives.py: the package installs exactly the files the archive
holds, per machine, into "Flashwright" under the 32-bit Program Files folder, with a Start-menu
shortcut to the window and an Add/Remove Programs entry. --library adds the vendor's update library
(the release package); the simulator kit brings its own. VERSION is the programs' four-part file
version.

What wixl cannot do is done afterwards with msitools' own msibuild and with olefile:
- Windows Installer compares only the first three parts of a version, so a major upgrade must also
  take an installed product of the same three parts: the upgrade row gets "maximum inclusive".
  Going back to an older fourth part is refused by a launch condition on the installed version,
  written zero-padded to the registry so that it compares as text.
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
SUMMARY = "\x05SummaryInformation"
PID_REVISION, PID_CREATED, PID_SAVED = 9, 12, 13
VT_LPSTR, VT_FILETIME = 30, 64


def load_archive_list():
    return types.SimpleNamespace(**runpy.run_path(str(HERE / "make-archives.py")))


def guid(name):
    return str(uuid.uuid5(NAMESPACE, name)).upper()


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


def component(entry, indent):
    name = entry.replace("/", "_").replace("-", "_")
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


def wxs(entries, product_name, version, product_code):
    refs = "".join(f'      <ComponentRef Id={quoteattr("C_" + e.replace("/", "_").replace("-", "_"))}/>\n'
                   for e in sorted(entries))
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
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Flashwright">
{directory_xml(entries)}          <Component Id="C_VersionKey" Guid="{guid("registry/VersionKey")}">
            <RegistryValue Root="HKLM" Key="Software\\Flashwright" Name="VersionKey" Type="string" Value="{key}" KeyPath="yes"/>
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
    </Directory>
    <Feature Id="Complete" Level="1">
{refs}      <ComponentRef Id="C_VersionKey"/>
      <ComponentRef Id="C_Shortcut"/>
    </Feature>
  </Product>
</Wix>
"""


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
    library = signed = None
    while len(argv) > 5:
        option, value = argv[-2], argv[-1]
        if option == "--library":
            library = Path(value)
        elif option == "--signed":
            signed = Path(value)
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
    kit = library is None
    product_name = "Flashwright Simulator Kit" if kit else "Flashwright"
    product_code = guid(f"product/{'kit' if kit else 'release'}/{version}")

    with tempfile.TemporaryDirectory() as work:
        work = Path(work)
        stage(entries, work / "files", archives.content, signed, int(epoch))
        shutil.copyfile(HERE.parent / "programs" / "res" / "Flashwright.ico", work / "Flashwright.ico")
        (work / "Flashwright.wxs").write_text(wxs(entries, product_name, version, product_code),
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
        patch_summary(msi, epoch, "{00000000-0000-0000-0000-000000000000}")
        package_code = "{" + guid("package/" + hashlib.sha256(msi.read_bytes()).hexdigest()) + "}"
        patch_summary(msi, epoch, package_code)
        shutil.copyfile(msi, out)
    print(Path(out).name)


if __name__ == "__main__":
    main(sys.argv[1:])
