# Sanitizer settings for a shell that runs sanitized or fuzzing programs
# itself (sourced by scripts/fuzz): exports ASAN_OPTIONS, UBSAN_OPTIONS and
# LSAN_OPTIONS exactly as the sanitized and fuzz test presets give them to
# CTest. They are kept in CMakePresets.json (the hidden test preset
# "sanitizer-options"), where CTest, the IDEs and this file all read them.
#
# Leaks are reported (LeakSanitizer), undefined behaviour stops the run with
# a stack, and the only suppressions are those in lsan.supp beside this file,
# each for a library outside the project. strict_string_checks stays off: it
# reports xkbcommon's strndup() of a length-bounded, unterminated buffer
# under X11, which is well defined.
mapfile -t sanitizer_settings < <(cmake -DPRESET=sanitizer-options \
    -P "$(dirname "${BASH_SOURCE[0]}")/preset-environment.cmake")
if [ ${#sanitizer_settings[@]} -eq 0 ]; then
    echo "options.sh: no sanitizer settings from CMakePresets.json" >&2
    return 1
fi
export "${sanitizer_settings[@]}"
unset sanitizer_settings
