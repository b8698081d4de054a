# Sanitizer settings for every sanitized or fuzzing run; sourced by
# scripts/test and scripts/fuzz. Leaks are reported (LeakSanitizer), undefined
# behaviour stops the run with a stack, and the only suppressions are those in
# lsan.supp beside this file, each for a library outside the project.
# strict_string_checks stays off: it reports xkbcommon's strndup() of a
# length-bounded, unterminated buffer under X11, which is well defined.
sanitizer_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$sanitizer_dir/lsan.supp:print_suppressions=0"
unset sanitizer_dir
