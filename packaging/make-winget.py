#!/usr/bin/python3
"""Writes a winget manifest (the multi-file form the community repository takes: version,
installer and default locale) for each MSI given, from the package itself: its product name,
version, product and upgrade codes (read with msitools' msiinfo) and its SHA-256.

Usage: make-winget.py OUT_DIR BASE_URL MSI... [--url URL]

Each manifest goes to OUT_DIR/<PackageIdentifier>/<version>/. BASE_URL is where the MSIs will be
downloaded from: the installer's address is BASE_URL/<file name>, so the MSI must be published
there under the same name and with the same bytes (sign first, then write the manifest). --url is
the project's web page (PackageUrl and PublisherUrl).

Schema 1.6.0: the newest every supported winget client reads; nothing here needs a later one.
"""
import hashlib
import subprocess
import sys
from pathlib import Path

MANIFEST_VERSION = "1.6.0"
SCHEMA = "https://aka.ms/winget-manifest.{}." + MANIFEST_VERSION + ".schema.json"
PUBLISHER_ID = "Flashwright"
LOCALE = "en-US"
DESCRIPTION = "Brings the firmware of USB storage bridges to version 00.01.01.07."
# What the installer itself (msiexec, not flashwright-cli) may end with, beside 0.
RETURN_CODES = (
    (1618, "installInProgress"),  # another installation is under way: try again later
    (1641, "rebootInitiated"),
    (3010, "rebootRequiredToFinish"),  # a file in use is replaced at the next restart
)


def msi_properties(msi):
    text = subprocess.run(["msiinfo", "export", str(msi), "Property"], check=True,
                          capture_output=True, text=True).stdout
    return dict(line.split("\t", 1) for line in text.splitlines()[3:] if "\t" in line)


def quoted(value):
    return "'" + str(value).replace("'", "''") + "'"


def document(kind, fields):
    """One manifest file: the schema comment, then `fields` (name -> text or a ready YAML
    block), then the manifest's type and version."""
    lines = [f"# yaml-language-server: $schema={SCHEMA.format(kind)}", ""]
    for name, value in fields:
        lines.append(f"{name}:{value}" if value.startswith("\n") else f"{name}: {value}")
    lines += [f"ManifestType: {kind}", f"ManifestVersion: {MANIFEST_VERSION}", ""]
    return "\n".join(lines)


def manifests(msi, base_url, url):
    """(identifier, version, {file name: text}) for one MSI."""
    properties = msi_properties(msi)
    name, version = properties["ProductName"], properties["ProductVersion"]
    identifier = PUBLISHER_ID + "." + name.replace(" ", "")
    head = [("PackageIdentifier", identifier), ("PackageVersion", quoted(version))]
    entry = "".join(f"\n  {key}: {quoted(properties[field])}" for key, field in (
        ("DisplayName", "ProductName"), ("Publisher", "Manufacturer"),
        ("DisplayVersion", "ProductVersion"), ("ProductCode", "ProductCode"),
        ("UpgradeCode", "UpgradeCode")))
    installer = head + [
        ("InstallerType", "msi"),
        ("Scope", "machine"),
        ("InstallModes", "\n- silent\n- silentWithProgress"),
        ("InstallerSwitches", '\n  Log: /l*v "<LOGPATH>"'),
        # Per machine: msiexec cannot ask for elevation in a silent install.
        ("ElevationRequirement", "elevationRequired"),
        ("ExpectedReturnCodes", "".join(f"\n- InstallerReturnCode: {code}\n  ReturnResponse: {word}"
                                        for code, word in RETURN_CODES)),
        ("UpgradeBehavior", "install"),
        # winget would pass --location as TARGETDIR, which moves nothing: the programs stay in
        # Program Files, where only administrators can change them.
        ("UnsupportedArguments", "\n- location"),
        ("ProductCode", quoted(properties["ProductCode"])),
        ("AppsAndFeaturesEntries", "\n- " + entry[3:]),
        ("Installers", "\n- Architecture: x86"
                       f"\n  InstallerUrl: {quoted(base_url.rstrip('/') + '/' + Path(msi).name)}"
                       f"\n  InstallerSha256: {hashlib.sha256(Path(msi).read_bytes()).hexdigest().upper()}"),
    ]
    links = [("PublisherUrl", quoted(url)), ("PackageUrl", quoted(url))] if url else []
    locale = head + [("PackageLocale", LOCALE), ("Publisher", quoted(properties["Manufacturer"]))] \
        + links + [("PackageName", quoted(name)), ("License", "MIT"),
                   ("ShortDescription", quoted(DESCRIPTION))]
    return identifier, version, {
        f"{identifier}.yaml": document("version", head + [("DefaultLocale", LOCALE)]),
        f"{identifier}.installer.yaml": document("installer", installer),
        f"{identifier}.locale.{LOCALE}.yaml": document("defaultLocale", locale),
    }


def main(argv):
    url = None
    if len(argv) >= 2 and argv[-2] == "--url":
        url, argv = argv[-1], argv[:-2]
    if len(argv) < 3 or not argv[1].startswith("https://"):
        sys.exit(__doc__)
    out, base_url, msis = Path(argv[0]), argv[1], argv[2:]
    for msi in msis:
        identifier, version, files = manifests(msi, base_url, url)
        folder = out / identifier / version
        folder.mkdir(parents=True, exist_ok=True)
        for name, text in files.items():
            (folder / name).write_text(text, encoding="utf-8", newline="\n")
        print(folder.relative_to(out))


if __name__ == "__main__":
    main(sys.argv[1:])
