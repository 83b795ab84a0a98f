# Read by CPack before it packs: every date in a package is SOURCE_DATE_EPOCH when it is set,
# else the time of the last commit, so that two builds of the same sources give the same bytes.
# A tree outside git keeps the time of packing.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C "${CPACK_TAGSPLIT_SOURCE_DIR}" log -1 --format=%ct
    OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(commit_time)
    set(ENV{SOURCE_DATE_EPOCH} ${commit_time})
  endif()
endif()
