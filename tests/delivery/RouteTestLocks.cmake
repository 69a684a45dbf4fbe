# Read by ctest after the delivery tests were discovered: only the tests that
# listen on the standard SMTP port (127.0.0.2:25, 127.0.0.3:25) take its lock.
foreach(route_test IN LISTS test_delivery_TESTS)
  if(route_test MATCHES "Port25")
    set_tests_properties("${route_test}" PROPERTIES RESOURCE_LOCK smtp25)
  endif()
endforeach()
