# Every folder lists its sources by glob so parallel work never edits the same list.
# Platform variants are files named *_posix.cpp / *_win.cpp; the other platform's are dropped.
function(fw_glob_sources out dir)
    file(GLOB_RECURSE _srcs CONFIGURE_DEPENDS "${dir}/*.cpp" "${dir}/*.h")
    if(WIN32)
        list(FILTER _srcs EXCLUDE REGEX "_posix\\.cpp$")
    else()
        list(FILTER _srcs EXCLUDE REGEX "_win\\.cpp$")
    endif()
    set(${out} ${_srcs} PARENT_SCOPE)
endfunction()
