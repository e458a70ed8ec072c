# The kernel math layer compared with the C library inside the Linux build (the loader test of
# the kernel image itself is a 32-bit project of its own in this folder, run by scripts/kernel.sh).
set(kernel_math_sources ${CMAKE_SOURCE_DIR}/platform/kernel/kernel_math.cpp
                        ${CMAKE_CURRENT_LIST_DIR}/math_switch.cpp)
tessil_test_program(tests_kernel_math SOURCES ${CMAKE_CURRENT_LIST_DIR}/kernel_math_test.cpp
  ${kernel_math_sources} LIBRARIES tessil_module tessil_public ${CMAKE_DL_LIBS})

# Every equaliser design the property set reaches, for scripts/compare-equaliser-designs.sh.
add_executable(compare_equaliser_designs ${CMAKE_CURRENT_LIST_DIR}/compare_equaliser_designs.cpp
                                         ${kernel_math_sources})
target_link_libraries(compare_equaliser_designs PRIVATE tessil_module tessil_public
                                                        ${CMAKE_DL_LIBS})
target_include_directories(compare_equaliser_designs PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
