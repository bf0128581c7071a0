#!/usr/bin/python3
"""Checks the winget manifests in ROOT against the MSIs they install: one multi-file manifest per
MSI whose three files agree on identifier and version, and whose installer has the MSI's product
code, upgrade code, version, name, SHA-256 and address BASE_URL/<file name> (the MSI read with
msiinfo, the file hashed here).

Usage: check-winget.py ROOT BASE_URL VERSION MSI...
"""
import hashlib
import subprocess
import sys
from pathlib import Path

import yaml

failures = []


def expect(what, actual, wanted):
    if actual != wanted:
        failures.append(f"{what}: {actual!r}, expected {wanted!r}")


def properties(msi):
    text = subprocess.run(["msiinfo", "export", str(msi), "Property"], check=True,
                          capture_output=True, text=True).stdout
    return dict(line.split("\t", 1) for line in text.splitlines()[3:] if "\t" in line)


def main(root, base_url, version, msis):
    root = Path(root)
    installers = {}
    for path in root.glob("*/*/*.installer.yaml"):
        document = yaml.safe_load(path.read_text(encoding="utf-8"))
        for entry in document.get("Installers") or []:
            installers[entry.get("InstallerUrl")] = (path, document, entry)
    expect("manifests", len(installers), len(msis))
    identifiers = set()
    for msi in map(Path, msis):
        facts = properties(msi)
        url = base_url + "/" + msi.name
        if url not in installers:
            failures.append(f"{msi.name}: no installer manifest with the address {url}")
            continue
        path, installer, entry = installers[url]
        identifier = installer["PackageIdentifier"]
        identifiers.add(identifier)
        name = f"{msi.name}: {path.name}"
        expect(f"{name} folder", (path.parent.parent.name, path.parent.name), (identifier, version))
        expect(f"{name} PackageVersion", str(installer["PackageVersion"]), facts["ProductVersion"])
        expect(f"{name} MSI version", facts["ProductVersion"], version)
        expect(f"{name} InstallerType", installer.get("InstallerType"), "msi")
        expect(f"{name} Scope", installer.get("Scope"), "machine")
        expect(f"{name} ProductCode", installer.get("ProductCode"), facts["ProductCode"])
        expect(f"{name} InstallerSha256", entry.get("InstallerSha256"),
               hashlib.sha256(msi.read_bytes()).hexdigest().upper())
        expect(f"{name} AppsAndFeaturesEntries", installer.get("AppsAndFeaturesEntries"), [{
            "DisplayName": facts["ProductName"], "Publisher": facts["Manufacturer"],
            "DisplayVersion": facts["ProductVersion"], "ProductCode": facts["ProductCode"],
            "UpgradeCode": facts["UpgradeCode"]}])
        codes = {c["InstallerReturnCode"]: c["ReturnResponse"]
                 for c in installer.get("ExpectedReturnCodes") or []}
        expect(f"{name} 3010", codes.get(3010), "rebootRequiredToFinish")
        # The version and locale files of the same package and version.
        version_file = path.parent / f"{identifier}.yaml"
        if not version_file.exists():
            failures.append(f"{msi.name}: no version manifest {version_file.name}")
            continue
        head = yaml.safe_load(version_file.read_text(encoding="utf-8"))
        locale_file = path.parent / f"{identifier}.locale.{head.get('DefaultLocale')}.yaml"
        if not locale_file.exists():
            failures.append(f"{msi.name}: no default locale manifest {locale_file.name}")
            continue
        locale = yaml.safe_load(locale_file.read_text(encoding="utf-8"))
        for document, kind in ((head, "version"), (installer, "installer"),
                               (locale, "defaultLocale")):
            expect(f"{name} {kind} identity",
                   (document.get("PackageIdentifier"), str(document.get("PackageVersion")),
                    document.get("ManifestType"), document.get("ManifestVersion")),
                   (identifier, version, kind, head.get("ManifestVersion")))
        expect(f"{name} PackageName", locale.get("PackageName"), facts["ProductName"])
    expect("distinct package identifiers", len(identifiers), len(msis))
    for failure in failures:
        print("FAIL:", failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) < 5:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]))
