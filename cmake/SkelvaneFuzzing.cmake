# libFuzzer builds: every target is instrumented for coverage and checked by
# AddressSanitizer and UndefinedBehaviorSanitizer; the fuzz executables link
# the fuzzer's own main.
if(SKELVANE_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "SKELVANE_FUZZ needs clang (CC=clang CXX=clang++)")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=address,undefined)
endif()
