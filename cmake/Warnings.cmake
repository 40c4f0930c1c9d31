function(wrenpost_warnings target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
        -Woverloaded-virtual -Wformat -Wformat-security -Wimplicit-fallthrough
        -Wmisleading-indentation -Wduplicated-cond -Wlogical-op)
    if(WRENPOST_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
