#!/usr/bin/env bash
# Every DLL that a file of the Windows program folder imports is in the folder
# or part of Windows, so the folder runs on a Windows that has nothing else.
#   CheckImports.sh <objdump> <folder>
set -euo pipefail
objdump="$1"
folder="$2"

# Windows' own DLLs (and the API sets that stand for them), as a 64-bit
# Windows 10 has them in System32.
windows_dll() {
    case "${1,,}" in
    advapi32.dll | authz.dll | comctl32.dll | comdlg32.dll | d3d9.dll | d3d11.dll | d3d12.dll | \
        dwmapi.dll | dwrite.dll | dxgi.dll | gdi32.dll | imm32.dll | kernel32.dll | \
        msvcrt.dll | netapi32.dll | ntdll.dll | ole32.dll | oleaut32.dll | setupapi.dll | \
        shcore.dll | shell32.dll | shlwapi.dll | user32.dll | userenv.dll | uxtheme.dll | \
        version.dll | winmm.dll | ws2_32.dll | wtsapi32.dll | mpr.dll | winspool.drv | \
        api-ms-win-*.dll) return 0 ;;
    esac
    return 1
}

missing=()
checked=0
while IFS= read -r -d '' file; do
    checked=$((checked + 1))
    while read -r dll; do
        [ -e "$folder/$dll" ] && continue
        # Names are case-insensitive on Windows.
        [ -n "$(find "$folder" -maxdepth 1 -iname "$dll" -print -quit)" ] && continue
        windows_dll "$dll" && continue
        missing+=("${file#"$folder"/} imports $dll")
    done < <("$objdump" -p "$file" | sed -n 's/^\s*DLL Name: //p')
done < <(find "$folder" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0)

[ "$checked" -gt 0 ] || { echo "FAILED: no program files in $folder"; exit 1; }
if [ ${#missing[@]} -gt 0 ]; then
    printf 'FAILED: %s\n' "${missing[@]}"
    exit 1
fi
echo "PASSED: the $checked program files in $folder import only what is there or in Windows"
