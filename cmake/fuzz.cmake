# Fuzz targets (QUILLFERN_FUZZ=ON), built inside the main project so they
# share its core libraries and flags.
#
# With clang every core library is instrumented for coverage
# (-fsanitize=fuzzer-no-link) and each target links libFuzzer:
#   CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DQUILLFERN_FUZZ=ON -DQUILLFERN_BUILD_MODULE=OFF
# With any other compiler (g++) the targets become replay drivers
# (QF_FUZZ_STANDALONE) that run the files and folders named on their command
# line under AddressSanitizer and UndefinedBehaviorSanitizer; the sanitizer
# suite (scripts/test.sh --sanitize) builds and replays them this way.
#
# A target is any tests/fuzz/*_fuzz.cpp or tests/cpp/<sub>/fuzz/*_fuzz.cpp;
# <sub>_fuzz links qf_<sub> (and its dependencies) only.

if(QUILLFERN_FUZZ)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    set(QF_FUZZ_LIBFUZZER ON)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
  else()
    set(QF_FUZZ_LIBFUZZER OFF)
    if(NOT QUILLFERN_SANITIZE)
      add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
      add_link_options(-fsanitize=address,undefined)
    endif()
  endif()
endif()

function(qf_fuzz_targets)
  file(GLOB _fuzz_srcs CONFIGURE_DEPENDS
       ${PROJECT_SOURCE_DIR}/tests/fuzz/*_fuzz.cpp
       ${PROJECT_SOURCE_DIR}/tests/cpp/*/fuzz/*_fuzz.cpp)
  get_property(_libs GLOBAL PROPERTY QF_CORE_LIBS)
  foreach(src ${_fuzz_srcs})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    # <sub>_fuzz needs qf_<sub> and what that links; any other name links all.
    string(REGEX REPLACE "_fuzz$" "" _sub ${name})
    if(TARGET qf_${_sub})
      target_link_libraries(${name} PRIVATE qf_${_sub})
    else()
      target_link_libraries(${name} PRIVATE ${_libs})
    endif()
    target_compile_definitions(${name} PRIVATE QF_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    if(QF_FUZZ_LIBFUZZER)
      target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    else()
      target_compile_definitions(${name} PRIVATE QF_FUZZ_STANDALONE)
    endif()
    set_property(GLOBAL APPEND PROPERTY QF_FUZZ_TARGETS ${name})
  endforeach()
  get_property(_all GLOBAL PROPERTY QF_FUZZ_TARGETS)
  if(_all)
    add_custom_target(fuzz_targets DEPENDS ${_all})
  endif()
endfunction()
