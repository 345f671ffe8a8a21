#!/usr/bin/env bash
# Takes the pictures in docs/screenshots from the real DLL under Wine, on a virtual
# display: the notice box, the warning box and the patch-file dialog, from the x86
# DLL (the x64 DLL draws the same windows), and the example installers' pages while a
# command shows its progress (NSIS's install page, Inno Setup's progress page, and a
# progress dialog that msibuild adds to the Windows Installer example, which has none). Run
# after a build (scripts/demo.sh or scripts/test.sh); it writes only
# docs/screenshots/*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${1:-}" = --on-display ] || exec scripts/with-display.sh scripts/take_screenshots.sh --on-display
root=$PWD
bin=$root/build/x86/bin
prefix=$root/build/x86/wineprefix
out=$root/docs/screenshots
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out" "$work/patches"
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# shoot NAME "HOST COMMAND LINE" STEP...: window-answerer runs the host on a virtual
# desktop (so that Wine draws the title bars itself) and takes the picture at the
# step followed by PICTURE, or else at the last step.
shoot() {
  local name=$1 host=$2 steps=()
  shift 2
  for step in "$@"; do
    [ "$step" = PICTURE ] && steps+=("$(winpath "$work/$name.bmp")") || steps+=("$step")
  done
  [[ " $* " == *" PICTURE "* ]] || steps+=("$(winpath "$work/$name.bmp")")
  (cd "$work/patches" && "$root/scripts/wine-run.sh" x86 "$prefix" explorer /desktop=tarvoshots,640x420 \
    "$bin/window-answerer.exe" "$host" "${steps[@]}" >/dev/null) || true
  python3 scripts/bmp_to_png.py "$work/$name.bmp" "$out/$name.png"
  echo "docs/screenshots/$name.png"
}
sample="\"$(winpath "$bin/tarvo-host.exe")\""

printf 'Tarvo 6 is ready to install.\r\n\r\nThis release needs 120 MB of disk space\r\nand replaces Tarvo 5 in place.' >"$work/notice.txt"
touch "$work/patches/tarvo-6.0.1-hotfix.z" "$work/patches/tarvo-6.0.2.z" "$work/patches/readme.txt"
mkdir -p "$work/a-folder"

shoot notice "$sample show \"$(winpath "$work/notice.txt")\" \"Tarvo 6 release notes\"" box "Tarvo 6 release notes"
shoot warning "$sample show \"$(winpath "$work/a-folder")\" Notice" box "Tarvo Setup"
shoot file-dialog "$sample pick" cancel "Please choose a Patch File"

# The example installers in the middle of their command with progress, then answered
# to their end.
makensis -V1 -DTARVO_SETUP_DLL="$bin/TarvoSetup.DLL" -DTARVO_TOOL="$bin/test-child.exe" -DOUTFILE="$work/nsis.exe" \
  examples/nsis/tarvo_example_unicode.nsi
"$root/scripts/wine-run.sh" x86 "$prefix" build/tools/innosetup/node_modules/innosetup/bin/ISCC.exe /Q \
  "/DTarvoSetupDll=$(winpath "$bin/TarvoSetup.DLL")" "/DTarvoTool=$(winpath "$bin/test-child.exe")" \
  "/O$(winpath "$work")" /Finno "$(winpath "$root/examples/inno/tarvo_example.iss")"
patch=$(winpath "$work/patches/tarvo-6.0.2.z")
nsis="Tarvo Setup: Installing" inno="Setup - Tarvo version 6.0.1"
shoot nsis-progress "\"$(winpath "$work/nsis.exe")\" /D=$(winpath "$work/nsis")" wait "$nsis" "#" bar "$nsis" 2 PICTURE \
  box "Tarvo release notes" pick "Please choose a Patch File" "$patch" press "Tarvo Setup: Completed" "&Close"
shoot inno-progress "\"$(winpath "$work/inno.exe")\" /DIR=$(winpath "$work/inno")" press "$inno" "&Install" \
  wait "$inno" "#" bar "$inno" 2 PICTURE box "Tarvo release notes" pick "Please choose a Patch File" "$patch"

# The Windows Installer example with a modeless progress dialog before ExecuteAction,
# whose bar and lines follow the installer's progress messages.
mkdir -p "$work/msi"
cp "$bin/TarvoSetup.DLL" "$work/msi/"
cp "$bin/test-child.exe" "$work/msi/tarvo-tool.exe"
sed 's/draw curl 4 100/draw curl 6 700/' examples/msi/tarvo_example.wxs >"$work/msi/example.wxs"
(cd "$work/msi" && wixl -o tarvo.msi example.wxs)
sql() { msibuild "$work/msi/tarvo.msi" -q "$1"; }
sql "CREATE TABLE \`Dialog\` (\`Dialog\` CHAR(72) NOT NULL, \`HCentering\` SHORT NOT NULL, \`VCentering\` SHORT NOT NULL,
     \`Width\` SHORT NOT NULL, \`Height\` SHORT NOT NULL, \`Attributes\` LONG, \`Title\` CHAR(128) LOCALIZABLE,
     \`Control_First\` CHAR(50) NOT NULL, \`Control_Default\` CHAR(50), \`Control_Cancel\` CHAR(50) PRIMARY KEY \`Dialog\`)"
sql "CREATE TABLE \`Control\` (\`Dialog_\` CHAR(72) NOT NULL, \`Control\` CHAR(50) NOT NULL, \`Type\` CHAR(20) NOT NULL,
     \`X\` SHORT NOT NULL, \`Y\` SHORT NOT NULL, \`Width\` SHORT NOT NULL, \`Height\` SHORT NOT NULL, \`Attributes\` LONG,
     \`Property\` CHAR(72), \`Text\` LONGCHAR LOCALIZABLE, \`Control_Next\` CHAR(50), \`Help\` CHAR(50) LOCALIZABLE
     PRIMARY KEY \`Dialog_\`, \`Control\`)"
sql "CREATE TABLE \`EventMapping\` (\`Dialog_\` CHAR(72) NOT NULL, \`Control_\` CHAR(50) NOT NULL, \`Event\` CHAR(50) NOT NULL,
     \`Attribute\` CHAR(50) NOT NULL PRIMARY KEY \`Dialog_\`, \`Control_\`, \`Event\`)"
sql "INSERT INTO \`Dialog\` (\`Dialog\`, \`HCentering\`, \`VCentering\`, \`Width\`, \`Height\`, \`Attributes\`, \`Title\`,
     \`Control_First\`) VALUES ('ProgressDlg', 50, 50, 370, 110, 1, '[ProductName] Setup', 'ActionText')"
control() {  # NAME TYPE Y HEIGHT ATTRIBUTES TEXT
  sql "INSERT INTO \`Control\` (\`Dialog_\`, \`Control\`, \`Type\`, \`X\`, \`Y\`, \`Width\`, \`Height\`, \`Attributes\`, \`Text\`)
       VALUES ('ProgressDlg', '$1', '$2', 15, $3, 340, $4, $5, '$6')"
}
control Title Text 10 15 3 'Installing [ProductName]'
control ActionText Text 35 15 3 ''
control ActionData Text 55 15 3 ''
control ProgressBar ProgressBar 80 12 65537 'Progress done'
for mapping in "ActionText ActionText Text" "ActionData ActionData Text" "ProgressBar SetProgress Progress"; do
  read -r target event attribute <<<"$mapping"
  sql "INSERT INTO \`EventMapping\` (\`Dialog_\`, \`Control_\`, \`Event\`, \`Attribute\`)
       VALUES ('ProgressDlg', '$target', '$event', '$attribute')"
done
sql "INSERT INTO \`InstallUISequence\` (\`Action\`, \`Sequence\`) VALUES ('ProgressDlg', 1280)"
package=$(winpath "$work/msi/tarvo.msi")
"$root/scripts/wine-run.sh" x86 "$prefix" msiexec /x "$package" /qn >/dev/null 2>&1 || true
shoot msi-progress "msiexec /i $package" wait "Tarvo Setup" "#" bar "Tarvo Setup" 2
"$root/scripts/wine-run.sh" x86 "$prefix" msiexec /x "$package" /qn >/dev/null 2>&1 || true
