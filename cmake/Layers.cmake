# The layers of the program as libraries, linked in the allowed direction only:
#
#   oxlip_localfs  <-  oxlip_settings  <-  oxlip_engine  <-  oxlip_ftp  <-  oxlip_gui
#   (src/localfs)      (src/settings)      (src/ftp/engine)  (src/ftp)      (src/app, src/dialogs)
#
# Under them all oxlip_core (src/core: the result types, header-only), which every layer links.
#
# Each layer has an include root of its own under <build>/layers/<layer> that holds symbolic
# links to its own folders only ("localfs/", "ftp/engine/" …). A layer sees its own root and
# the roots of the layers it links, so an include of a layer above it does not build.
# Used by the main project and by fuzz/ (with OXLIP_LAYER_SUFFIX and OXLIP_LAYER_OPTIONS).

get_filename_component(OXLIP_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)

# oxlip_layer_root(VAR layer dir...): makes <build>/layers/<layer>/<dir> a link to <dir> under
# the source root (dir is "src/localfs" or "tools" …; the link drops a leading "src/") and puts
# the root in VAR.
function(oxlip_layer_root var layer)
    set(root ${CMAKE_BINARY_DIR}/layers/${layer})
    foreach(dir ${ARGN})
        string(REGEX REPLACE "^src/" "" name ${dir})
        get_filename_component(parent ${root}/${name} DIRECTORY)
        file(MAKE_DIRECTORY ${parent})
        file(CREATE_LINK ${OXLIP_SOURCE_ROOT}/${dir} ${root}/${name} SYMBOLIC)
    endforeach()
    set(${var} ${root} PARENT_SCOPE)
endfunction()

# oxlip_layer(name folder PUBLIC deps... PRIVATE deps...): a static library of folder's *.cpp
# with the include root of its own.
function(oxlip_layer name folder)
    file(GLOB sources CONFIGURE_DEPENDS ${OXLIP_SOURCE_ROOT}/${folder}/*.cpp)
    set(target oxlip_${name}${OXLIP_LAYER_SUFFIX})
    add_library(${target} STATIC ${sources})
    oxlip_layer_root(root ${name} ${folder})
    target_include_directories(${target} PUBLIC ${root})
    target_link_libraries(${target} ${ARGN})
    target_compile_options(${target} PRIVATE ${OXLIP_LAYER_OPTIONS})
endfunction()

find_package(OpenSSL 3 REQUIRED) # FTPS

# The bottom of every layer: the result types, header-only.
oxlip_layer_root(core_root core src/core)
add_library(oxlip_core${OXLIP_LAYER_SUFFIX} INTERFACE)
target_include_directories(oxlip_core${OXLIP_LAYER_SUFFIX} INTERFACE ${core_root})

# The core: standard C++ only.
oxlip_layer(localfs src/localfs PUBLIC oxlip_core${OXLIP_LAYER_SUFFIX})
oxlip_layer(settings src/settings
    PUBLIC oxlip_core${OXLIP_LAYER_SUFFIX} oxlip_localfs${OXLIP_LAYER_SUFFIX})
target_compile_definitions(oxlip_settings${OXLIP_LAYER_SUFFIX} PRIVATE
    OXLIP_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
    OXLIP_VERSION_MINOR=${PROJECT_VERSION_MINOR}
    OXLIP_VERSION_PATCH=${PROJECT_VERSION_PATCH})
oxlip_layer(engine src/ftp/engine
    PUBLIC oxlip_core${OXLIP_LAYER_SUFFIX} oxlip_localfs${OXLIP_LAYER_SUFFIX}
        OpenSSL::SSL OpenSSL::Crypto
    PRIVATE oxlip_settings${OXLIP_LAYER_SUFFIX}) # pinned certificates
oxlip_layer(ftp src/ftp PUBLIC oxlip_core${OXLIP_LAYER_SUFFIX} oxlip_engine${OXLIP_LAYER_SUFFIX}
    oxlip_localfs${OXLIP_LAYER_SUFFIX})
