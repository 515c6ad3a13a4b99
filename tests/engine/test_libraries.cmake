# Shared libraries the engine tests load at run time: a scaler library with a function missing,
# and a video hook module.
add_library(qm_fake_swscale SHARED ${CMAKE_CURRENT_LIST_DIR}/fixtures/fake_swscale.c)
set_target_properties(qm_fake_swscale PROPERTIES NO_SONAME ON)
add_library(qm_test_vhook MODULE ${CMAKE_CURRENT_LIST_DIR}/fixtures/test_vhook.c)
add_dependencies(test_engine qm_fake_swscale qm_test_vhook)
target_compile_definitions(test_engine PRIVATE
  QM_FAKE_SWSCALE_PATH="$<TARGET_FILE:qm_fake_swscale>"
  QM_TEST_VHOOK_PATH="$<TARGET_FILE:qm_test_vhook>")
