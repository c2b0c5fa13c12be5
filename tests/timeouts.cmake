# Read by ctest after the discovered tests are defined: the tests that take
# seconds even in a plain build (up to 25 s under the sanitizers) get a few
# times that. Every other test keeps DATTOOL_TEST_TIMEOUT.
set(dattool_slow_tests
  unit.Sweep.EveryMutationOfHeaderAndTocEndsCleanly
  unit.Verdicts.MatchWhatExtractionLeavesOnDisk
  e2e.Create.ArchivesOf4GiBOrMoreAreRemovedBeforeAnyData
  e2e.Limits.DeepestTreesFitInASmallStack
  e2e.Limits.ArchiveTooLargeForMemoryIsSaidSo
  e2e.Data/Samples.ListAndExtract/deepest_path
  e2e.Data/MountSamples.ShowsWhatXExtracts/deepest_path
  e2e.Mount.XTheLibraryAndTheMountAgreeOnRandomTrees
  e2e.Data/FuzzRegression.ListAndExtractEndCleanly/slow_extraction_deep_nesting)
foreach(test IN LISTS unit_tests_list e2e_tests_list)
  # Parameterised tests carry "  # GetParam() = ..." in their names.
  string(REGEX REPLACE " +#.*" "" name "${test}")
  list(FIND dattool_slow_tests "${name}" slow)
  if(NOT slow EQUAL -1)
    set_tests_properties("${test}" PROPERTIES TIMEOUT 180)
  endif()
endforeach()
