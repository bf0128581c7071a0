#!/usr/bin/env bash
# The simulator kit's MSI as an administrator's deployment uses it, silently under Wine: install
# (files in place, flashwright-cli status from the installed folder against the simulator),
# upgrade from a build with a lower version (one product left, the new files) with the optional
# recorder, a lower version over it refused, and uninstall with support's recording switch left on
# (nothing left but the logs and the recording). Two builds of the MSI must be the same
# bytes. Its tables (read with msiinfo): a version for every program and library, the data
# folder's security descriptor, the event source. What Wine cannot show: that Windows applies the
# descriptor (Wine keeps no ACLs), and a repair (Wine keeps an installed file whose version is
# not older, whatever REINSTALLMODE says).
# Usage: check-msi.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail

buildDir="$1"
sourceDir="$2"
version="$3"

needsDisplay=1
# shellcheck source=tests/package/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-1700000000}"

installed="$(winepath -u 'C:\Program Files\Flashwright')"
dataFolder="$(winepath -u 'C:\ProgramData\Flashwright')"
eventSource='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Flashwright'
uninstallKey='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

MakeMsi() {  # MakeMsi LIST_BUILD_DIR OUT.msi VERSION
  bash "$sourceDir/scripts/package.sh" --installer "$1" "$2" "$3" >"$scratch/msi.log" 2>&1 || {
    cat "$scratch/msi.log" >&2
    Fail "scripts/package.sh --installer $3 failed"
  }
}
Msiexec() {  # Msiexec /i|/x FILE [PROPERTY=VALUE...]: the exit code of a silent run
  local code=0 action="$1" file="$2"
  shift 2
  wine msiexec "$action" "$(winepath -w "$file")" "$@" /qn </dev/null >/dev/null 2>&1 || code=$?
  echo "$code"
}
Table() {  # Table MSI NAME: the table's rows, tab-separated, without the three header lines
  msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4
}
RegValue() {  # RegValue KEY NAME: "TYPE DATA" of one registry value, or nothing
  wine reg query "$1" /v "$2" </dev/null 2>/dev/null | tr -d '\r' |
    awk -v name="$2" '$1 == name { $1 = ""; print substr($0, 2) }'
}
# Our products in Add/Remove Programs, as "NAME VERSION" lines.
Products() {
  wine reg query "$uninstallKey" /s </dev/null 2>/dev/null | tr -d '\r' | awk '
    /^HKEY/ { name = ""; version = "" }
    $1 == "DisplayName" { $1 = ""; $2 = ""; name = substr($0, 3) }
    $1 == "DisplayVersion" { version = $3 }
    name ~ /Flashwright/ && version != "" { print name " " version; name = "" }'
}
Cleanup() {
  for msi in "$scratch"/*.msi; do
    if [ -f "$msi" ]; then
      wine msiexec /x "$(winepath -w "$msi")" /qn </dev/null >/dev/null 2>&1 || true
    fi
  done
  rm -rf "$scratch"
}
trap Cleanup EXIT
[ -z "$(Products)" ] || Fail "a Flashwright product is installed before the test: $(Products)"
# Attempt records other tests left in the shared prefix are not the MSI's to remove.
wine reg delete 'HKLM\Software\Flashwright\Attempts' /f </dev/null >/dev/null 2>&1 || true
rm -rf "$dataFolder"

# The current build, twice: the same bytes.
MakeMsi "$buildDir" "$scratch/current.msi" "$version"
MakeMsi "$buildDir" "$scratch/again.msi" "$version"
cmp -s "$scratch/current.msi" "$scratch/again.msi" || Fail "two builds of the MSI differ"

# Every program and library has its version (a repair replaces an equal version, not a modified
# unversioned file) and a language, and no hash (which is for unversioned files).
unversioned="$(Table "$scratch/current.msi" File | awk -F'\t' -v v="$version" \
  'tolower($3) ~ /\.(exe|dll)$/ && ($5 != v || $6 == "") { print $3 }')"
[ -z "$unversioned" ] || Fail "PE files without version $version or language in the File table: $unversioned"
Table "$scratch/current.msi" File | awk -F'\t' 'tolower($3) ~ /\.(exe|dll)$/ { n++ } END { exit n < 4 }' ||
  Fail "the File table lists fewer than four programs and libraries"
! Table "$scratch/current.msi" MsiFileHash | grep -qi -E '^F_[^[:space:]]*\.(exe|dll)[[:space:]]' ||
  Fail "a versioned file has a hash"
# The data folder and both folders in it: created, owned by Administrators, SYSTEM and
# Administrators in full control, Users reading (but not Logs), nothing inherited.
sddl='O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)'
logsSddl='O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)'
lockedWith() {
  Table "$scratch/current.msi" MsiLockPermissionsEx | awk -F'\t' -v s="$1" \
    '$3 == "CreateFolder" && $4 == s && $5 == "" { print $2 }' | sort | tr '\n' ' '
}
[ "$(lockedWith "$sddl")" = "DATADIR RECORDINGSDIR " ] ||
  Fail "folders locked with $sddl: '$(lockedWith "$sddl")'"
[ "$(lockedWith "$logsSddl")" = "LOGSDIR " ] ||
  Fail "folders locked with $logsSddl: '$(lockedWith "$logsSddl")'"
locks="DATADIR LOGSDIR RECORDINGSDIR "
[ "$(Table "$scratch/current.msi" CreateFolder | cut -f1 | sort | tr '\n' ' ')" = "$locks" ] ||
  Fail "the CreateFolder rows are not the locked folders: $(Table "$scratch/current.msi" CreateFolder)"

# An older build: a lower version, and a README of its own to tell its files from the new ones.
oldBuild="$scratch/old-build"
mkdir -p "$oldBuild/packaging"
echo "the old release" >"$scratch/old-README.txt"
awk -F'\t' -v readme="$scratch/old-README.txt" 'BEGIN { OFS = "\t" }
  $3 == "README.txt" { $4 = readme } { print }' "$buildDir/packaging/archives.txt" \
  >"$oldBuild/packaging/archives.txt"
IFS=. read -r major minor build release <<<"$version"
[ "$release" -gt 0 ] || Fail "the test takes the version before $version by its fourth part, which is 0"
oldVersion="$major.$minor.$build.$((release - 1))"
MakeMsi "$oldBuild" "$scratch/old.msi" "$oldVersion"

[ "$(Msiexec /i "$scratch/old.msi")" = 0 ] || Fail "installing $oldVersion failed"
grep -q "the old release" "$installed/README.txt" || Fail "$oldVersion did not install its files"
[ ! -e "$installed/flashwright-recorder.dll" ] || Fail "the recorder was installed by default"

# The upgrade adds the recorder, named with the programs' own feature as the README says.
[ "$(Msiexec /i "$scratch/current.msi" ADDLOCAL=Complete,Recorder)" = 0 ] || Fail "upgrading to $version failed"
[ "$(Products)" = "Flashwright Simulator Kit $version" ] ||
  Fail "after the upgrade Add/Remove Programs lists: $(Products)"
for file in Flashwright.exe flashwright-cli.exe ZRFWUpdateDll.dll flashwright-recorder.dll \
  usbsim.exe README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt SIMULATOR.md scenarios/02-update-required.scenario; do
  [ -f "$installed/$file" ] || Fail "$file is not installed"
done
! grep -q "the old release" "$installed/README.txt" || Fail "the upgrade kept the old README"
[ -n "$(find "$(winepath -u 'C:\')" -iname 'Flashwright.lnk' -path '*Start Menu*' 2>/dev/null)" ] ||
  Fail "no Start-menu shortcut"
# The event source points at the messages in the installed command line.
[ "$(RegValue "$eventSource" EventMessageFile)" = 'REG_EXPAND_SZ C:\Program Files\Flashwright\flashwright-cli.exe' ] ||
  Fail "the event source's message file is '$(RegValue "$eventSource" EventMessageFile)'"
[ "$(RegValue "$eventSource" TypesSupported)" = "REG_DWORD 0x7" ] ||
  Fail "the event source's types are '$(RegValue "$eventSource" TypesSupported)'"
for folder in Logs recordings; do
  [ -d "$dataFolder/$folder" ] || Fail "the data folder has no $folder"
done
# Add/Remove Programs knows the folder and has the help and about links (the installed README
# when the build names no web page).
arpKey="$uninstallKey\\$(Table "$scratch/current.msi" Property | awk -F'\t' '$1 == "ProductCode" { print $2 }')"
[ "$(RegValue "$arpKey" InstallLocation)" = "REG_SZ C:\\Program Files\\Flashwright\\" ] ||
  Fail "Add/Remove Programs' InstallLocation is '$(RegValue "$arpKey" InstallLocation)'"
for link in HelpLink URLInfoAbout; do
  [ "$(RegValue "$arpKey" "$link")" = 'REG_SZ C:\Program Files\Flashwright\README.txt' ] ||
    Fail "Add/Remove Programs' $link is '$(RegValue "$arpKey" "$link")'"
done

# The installed command line against the simulator's built-in world: one device to update.
code=0
(cd "$installed" && wine ./flashwright-cli.exe status --json </dev/null >"$scratch/status.json" \
  2>"$scratch/status.err") || code=$?
[ "$code" = 10 ] || Fail "installed flashwright-cli status ended with $code: $(cat "$scratch/status.err")"
grep -q '"state":"update-required"' "$scratch/status.json" ||
  Fail "installed flashwright-cli status printed: $(cat "$scratch/status.json")"

# Support's switch on: the installed programs record, and the switch is left on for the uninstall.
(cd "$installed" && wine ./flashwright-cli.exe support record on </dev/null >/dev/null 2>&1) ||
  Fail "installed flashwright-cli support record on failed"
[ "$(RegValue 'HKLM\Software\Flashwright' Recording)" = "REG_DWORD 0x1" ] ||
  Fail "support record on set '$(RegValue 'HKLM\Software\Flashwright' Recording)'"
(cd "$installed" && wine ./flashwright-cli.exe status </dev/null >/dev/null 2>&1) || true
recording="$(cd "$dataFolder" && find recordings -name '*.fwrec' 2>/dev/null)"
[ -n "$recording" ] || Fail "status with the switch on and the recorder installed recorded nothing"
grep -q '^# origin recorder=[0-9.]* version=[0-9.]* program=flashwright-cli.exe command=status$' \
  "$dataFolder/$recording" || Fail "the recording names no origin: $(head -n 3 "$dataFolder/$recording")"

[ "$(Msiexec /i "$scratch/old.msi")" != 0 ] || Fail "installing $oldVersion over $version was not refused"
[ "$(Products)" = "Flashwright Simulator Kit $version" ] ||
  Fail "after the refused downgrade Add/Remove Programs lists: $(Products)"

# The run left its line in the data folder's log, which uninstalling keeps, with its folders and
# the recording, and nothing else of the data; the switch goes with the programs.
grep -q '"command":"status"' "$dataFolder/Logs/flashwright.log" 2>/dev/null ||
  Fail "the installed flashwright-cli status left no line in the data folder's log"
[ "$(Msiexec /x "$scratch/current.msi")" = 0 ] || Fail "uninstalling failed"
left="$(cd "$dataFolder" 2>/dev/null && find . -mindepth 1 | LC_ALL=C sort | tr '\n' ' ')"
[ "$left" = "./Logs ./Logs/flashwright.log ./recordings ./$recording " ] ||
  Fail "the data folder holds after uninstalling: '$left'"
rm -rf "$dataFolder"
! wine reg query "$eventSource" </dev/null >/dev/null 2>&1 || Fail "the event source is left after uninstalling"
[ ! -e "$installed" ] || Fail "the install folder is left after uninstalling: $(ls -A "$installed")"
[ -z "$(Products)" ] || Fail "Add/Remove Programs still lists: $(Products)"
# Of HKLM\Software\Flashwright only the status values the run left for inventory tools stay, as
# the records would: written by the programs in the 64-bit view, which a 32-bit package cannot
# remove on 64-bit Windows.
left="$(wine reg query 'HKLM\Software\Flashwright' </dev/null 2>/dev/null | tr -d '\r' | grep -v '^$')"
[ "$left" = 'HKEY_LOCAL_MACHINE\Software\Flashwright\Status' ] ||
  Fail "HKLM\\Software\\Flashwright holds after uninstalling: '$left'"
wine reg query 'HKLM\Software\Flashwright\Status' /v State </dev/null 2>/dev/null | grep -q 'needs-update' ||
  Fail "the installed flashwright-cli status left no status values"
echo "check-msi: install, upgrade from $oldVersion, refused downgrade and uninstall of $version all as expected"
