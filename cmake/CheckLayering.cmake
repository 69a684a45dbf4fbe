# Fails when a folder reaches above its layer: the core folders (and the
# command poston-server) include no Qt header and nothing of the screen folders, screens/ nothing of admin/ or
# app/, admin/ nothing of app/.
function(refuse dir pattern what)
  file(GLOB_RECURSE files ${ROOT}/${dir}/*.h ${ROOT}/${dir}/*.cpp ${ROOT}/${dir}/*.c)
  foreach(f ${files})
    file(STRINGS ${f} hits REGEX "^[ \t]*#[ \t]*include[ \t]*${pattern}")
    if(hits)
      message(FATAL_ERROR "${f} includes ${what}: ${hits}")
    endif()
  endforeach()
endfunction()

foreach(dir nvktl data delivery reader sync server)
  refuse(${dir} "[<\"]Q" "Qt")
  refuse(${dir} "\"(screens|admin|app)/" "a screen folder")
endforeach()
refuse(screens "\"(admin|app)/" "a folder above it")
refuse(admin "\"app/" "app/")
message(STATUS "every folder keeps to its layer")
