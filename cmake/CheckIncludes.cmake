# Fails when an include points against the direction of the layers:
# mainwindow/ -> target/ -> winsys/window_system.h <- the backends.
# Run as: cmake -DSOURCE_DIR=<repository> -P CheckIncludes.cmake
set(rules
    "winsys|target/|mainwindow/"
    "target|mainwindow/")
set(bad "")
foreach(rule IN LISTS rules)
    string(REPLACE "|" ";" parts "${rule}")
    list(POP_FRONT parts folder)
    file(GLOB sources ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp)
    foreach(source IN LISTS sources)
        file(STRINGS ${source} includes REGEX "^#include \"")
        foreach(line IN LISTS includes)
            foreach(forbidden IN LISTS parts)
                if(line MATCHES "^#include \"${forbidden}")
                    file(RELATIVE_PATH name ${SOURCE_DIR} ${source})
                    string(APPEND bad "${name}: ${line}\n")
                endif()
            endforeach()
        endforeach()
    endforeach()
endforeach()
if(bad)
    message(FATAL_ERROR "includes against the layers:\n${bad}")
endif()
