# find_package(bytetab) gives the imported executable bytetab::bytetab, the
# decoder library bytetab::decode (the header bytetab/decode.h) and
# bytetab_add_header().
include("${CMAKE_CURRENT_LIST_DIR}/bytetabTargets.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/bytetabAddHeader.cmake")

