# Fails when a folder includes a header of a folder above it: screens/ knows
# neither admin/ nor app/, admin/ does not know app/, and the core folders
# know no screen at all.
set(above_screens admin app)
set(above_admin app)
set(above_core screens admin app)
foreach(pair "screens;above_screens" "admin;above_admin" "nvktl;above_core" "data;above_core"
             "delivery;above_core" "reader;above_core")
  list(GET pair 0 dir)
  list(GET pair 1 list)
  file(GLOB_RECURSE files ${ROOT}/${dir}/*.h ${ROOT}/${dir}/*.cpp ${ROOT}/${dir}/*.c)
  foreach(upper ${${list}})
    foreach(f ${files})
      file(STRINGS ${f} hits REGEX "^[ \t]*#[ \t]*include[ \t]*\"${upper}/")
      if(hits)
        message(FATAL_ERROR "${f} includes from ${upper}/: ${hits}")
      endif()
    endforeach()
  endforeach()
endforeach()
message(STATUS "no folder includes from a folder above it")
