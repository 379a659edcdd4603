# Fails when an include line crosses a layer the wrong way:
#   base/       includes nothing of the project but base/;
#   platform/   includes nothing but base/ and platform/;
#   engine/, osr/ include nothing of host/, nor the old xml/exception.h and xml/stream.h.
# Usage: cmake -DROOT=<source folder> -P check_includes.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT ROOT)
  message(FATAL_ERROR "ROOT is not set")
endif()

set(project_folders base platform xml cefapi engine osr host cefengine parent tools tests bench fuzz)
set(allowed_base base)
set(allowed_platform base platform)
set(forbidden_engine host/ xml/exception.h xml/stream.h)
set(forbidden_osr host/ xml/exception.h xml/stream.h)

set(crossings 0)

# included_paths(file out): the paths named by the file's #include lines.
function(included_paths file out)
  file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
  set(paths "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]*)[\">].*$" "\\1" path "${line}")
    list(APPEND paths "${path}")
  endforeach()
  set(${out} "${paths}" PARENT_SCOPE)
endfunction()

# crosses(folder path out): TRUE when folder may not include path.
function(crosses folder path out)
  set(result FALSE)
  if(DEFINED allowed_${folder})
    string(REGEX MATCH "^[^/]+" top "${path}")
    if(path MATCHES "/" AND top IN_LIST project_folders AND NOT top IN_LIST allowed_${folder})
      set(result TRUE)
    endif()
  endif()
  foreach(prefix IN LISTS forbidden_${folder})
    string(FIND "${path}" "${prefix}" at)
    if(at EQUAL 0)
      set(result TRUE)
    endif()
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

foreach(folder base platform engine osr)
  file(GLOB_RECURSE files ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.hpp ${ROOT}/${folder}/*.cpp
       ${ROOT}/${folder}/*.c)
  foreach(file IN LISTS files)
    included_paths(${file} paths)
    foreach(path IN LISTS paths)
      crosses(${folder} "${path}" bad)
      if(bad)
        file(RELATIVE_PATH name ${ROOT} ${file})
        message("${name} includes ${path}")
        math(EXPR crossings "${crossings} + 1")
      endif()
    endforeach()
  endforeach()
endforeach()

if(crossings GREATER 0)
  message(FATAL_ERROR "${crossings} include lines cross a layer")
endif()
message("no include line crosses a layer")
