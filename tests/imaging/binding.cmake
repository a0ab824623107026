# The binding to the imaging modules and the packed DIB blocks. The tests
# point the binding's DLL directory at the build root, where the modules are.
# A fake module (built as CRDE2001.so and ISP2000.so in a folder of its own)
# counts calls and reports exceptions on request.
foreach(module CRDE2001 ISP2000)
  add_library(binding_fake_${module} MODULE ${CMAKE_CURRENT_SOURCE_DIR}/modules/FakeModule.cpp)
  target_include_directories(binding_fake_${module} PRIVATE ${PROJECT_SOURCE_DIR}/imglib/include)
  set_target_properties(binding_fake_${module} PROPERTIES
    PREFIX "" SUFFIX ".so" OUTPUT_NAME ${module}
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/fake-modules)
endforeach()

foreach(test binding_test dib_test)
  snimkorez_add_test(${test}
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/${test}.cpp
    LIBRARIES snimkorez_imaging
    LABELS imaging)
  target_include_directories(${test} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/modules)
  target_compile_definitions(${test} PRIVATE
    SNIMKOREZ_MODULE_DIR="${CMAKE_BINARY_DIR}"
    SNIMKOREZ_FAKE_MODULE_DIR="${CMAKE_BINARY_DIR}/tests/fake-modules")
  add_dependencies(${test} CRDE2001 ISP2000 binding_fake_CRDE2001 binding_fake_ISP2000)
endforeach()
