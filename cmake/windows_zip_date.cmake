# Read by CPack before it packs the Windows zip: unless SOURCE_DATE_EPOCH is set already, every
# entry is dated at the last commit, so that two builds of the same commit give the same zip.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} AND CPACK_TAGSPLIT_COMMIT_TIME)
  set(ENV{SOURCE_DATE_EPOCH} ${CPACK_TAGSPLIT_COMMIT_TIME})
endif()
