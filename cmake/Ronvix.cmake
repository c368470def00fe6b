# Helpers shared by every folder's CMakeLists.txt.

# ronvix_library(<folder> [QT Core|Gui|Widgets ...] [DEPS targets...] [SYSTEM libs...])
# Builds every .cpp/.h/.ui/.qrc file of src/<folder> into the static library
# ronvix_<folder with / replaced by _>. Sources are globbed so that several
# people can add files to one folder without touching this list.
function(ronvix_library folder)
    cmake_parse_arguments(ARG "" "" "QT;DEPS;SYSTEM" ${ARGN})
    string(REPLACE "/" "_" name "ronvix_${folder}")
    file(GLOB sources CONFIGURE_DEPENDS
        ${CMAKE_SOURCE_DIR}/src/${folder}/*.cpp
        ${CMAKE_SOURCE_DIR}/src/${folder}/*.h
        ${CMAKE_SOURCE_DIR}/src/${folder}/*.ui
        ${CMAKE_SOURCE_DIR}/src/${folder}/*.qrc)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    foreach(q ${ARG_QT})
        target_link_libraries(${name} PUBLIC Qt6::${q})
    endforeach()
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} ${ARG_SYSTEM} Threads::Threads)
    set_target_properties(${name} PROPERTIES AUTOUIC_SEARCH_PATHS ${CMAKE_SOURCE_DIR}/src/${folder})
endfunction()

# ronvix_tests(<folder> LABEL <label> [GUI] [SERIAL] [TIMEOUT s] [DEPS targets...])
# One test executable per folder of tests/, every *_test.cpp in it; each
# GoogleTest case becomes one CTest test carrying the layer's label. GUI tests
# get a QApplication, the others a QCoreApplication; both run offscreen.
# SERIAL tests run alone (they load the machine on purpose).
function(ronvix_tests folder)
    cmake_parse_arguments(ARG "GUI;SERIAL" "LABEL;TIMEOUT" "DEPS" ${ARGN})
    string(REPLACE "/" "_" name "test_${folder}")
    file(GLOB sources CONFIGURE_DEPENDS
        ${CMAKE_SOURCE_DIR}/tests/${folder}/*.cpp
        ${CMAKE_SOURCE_DIR}/tests/${folder}/*.h)
    add_executable(${name} ${sources})
    if(ARG_GUI)
        target_link_libraries(${name} PRIVATE ronvix_testmain_gui)
    else()
        target_link_libraries(${name} PRIVATE ronvix_testmain_core)
    endif()
    target_link_libraries(${name} PRIVATE ${ARG_DEPS})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/src)
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    set(serial FALSE)
    if(ARG_SERIAL)
        set(serial TRUE)
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT} RUN_SERIAL ${serial}
                   ENVIRONMENT QT_QPA_PLATFORM=offscreen)
    # The test mains set RONVIX_SOURCE_DIR and RONVIX_BUILD_DIR themselves
    # (a list here would be split into separate properties).
endfunction()
