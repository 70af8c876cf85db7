# Run by CTest before the tests start (a TEST_INCLUDE_FILES script): lists the
# tests of one GoogleTest program and adds one CTest test per suite, large
# suites split into chunks. Each CTest test is one process that runs its
# tests in turn. A process per test would cost far more than the tests
# themselves: every start loads Qt and the sanitizers' runtime and every exit
# runs the leak check.
#
# A CTest test is named after its suite ("ZipLister", "Fixtures/CodecFixture#3"),
# so `ctest -R ZipLister` runs a suite; one test runs with the program itself
# and --gtest_filter.
#
# VISTREL_CMAKE names the cmake program (CTest does not set CMAKE_COMMAND for
# these scripts).
function(vistrel_add_grouped_gtests exe env chunk)
  execute_process(
    COMMAND "${VISTREL_CMAKE}" -E env ${env} "${exe}" --gtest_list_tests
    OUTPUT_VARIABLE listing RESULT_VARIABLE rc TIMEOUT 120)
  if(NOT rc EQUAL 0)
    # The program cannot even list its tests: one test that runs it whole
    # fails and shows why.
    get_filename_component(name "${exe}" NAME)
    add_test("${name}" "${exe}")
    set_tests_properties("${name}" PROPERTIES ENVIRONMENT "${env}")
    return()
  endif()
  string(REPLACE ";" "\\;" listing "${listing}")
  string(REPLACE "\n" ";" lines "${listing}")
  set(suite "")
  set(names "")
  set(suites "")
  foreach(line IN LISTS lines)
    # "  # GetParam() = ..." and "  # TypeParam = ..." comments follow names.
    string(REGEX REPLACE "[ ]*#.*$" "" line "${line}")
    if(line MATCHES "^([^ ].*)\\.$")
      set(suite "${CMAKE_MATCH_1}")
      list(APPEND suites "${suite}")
      set(tests_of_${suite} "")
    elseif(line MATCHES "^  (.+)$" AND NOT suite STREQUAL "")
      list(APPEND tests_of_${suite} "${suite}.${CMAKE_MATCH_1}")
    endif()
  endforeach()
  foreach(suite IN LISTS suites)
    list(LENGTH tests_of_${suite} count)
    set(index 0)
    set(part 0)
    set(filter "")
    foreach(test IN LISTS tests_of_${suite})
      if(filter STREQUAL "")
        set(filter "${test}")
      else()
        string(APPEND filter ":${test}")
      endif()
      math(EXPR index "${index} + 1")
      math(EXPR full "${index} % ${chunk}")
      if(full EQUAL 0 OR index EQUAL count)
        if(count GREATER chunk)
          set(name "${suite}#${part}")
        else()
          set(name "${suite}")
        endif()
        add_test("${name}" "${exe}" "--gtest_filter=${filter}")
        set_tests_properties("${name}" PROPERTIES ENVIRONMENT "${env}")
        math(EXPR part "${part} + 1")
        set(filter "")
      endif()
    endforeach()
  endforeach()
endfunction()
