# Build conventions shared by every folder.

# ZYN_WINDOWS: the real Windows images (kernel drivers, the plug-in). A Windows build with
# ZYN_SIMULATED_WINDOWS instead makes the simulated platform and the driver libraries as
# ordinary user-mode Windows code, exactly as the simulated build on Linux does, for the
# plug-in's end-to-end tests under Wine.
option(ZYN_SIMULATED_WINDOWS "Windows build of the simulated platform and drivers" OFF)
if(CMAKE_SYSTEM_NAME STREQUAL "Windows" AND NOT ZYN_SIMULATED_WINDOWS)
    set(ZYN_WINDOWS ON)
else()
    set(ZYN_WINDOWS OFF)
endif()

set(ZYN_SANITIZER "" CACHE STRING "Sanitizer for the simulated build: address, thread or empty")
# When set, only the test programs carrying this label are built (the ThreadSanitizer build
# runs just the threaded tests, so it need not compile the rest).
set(ZYN_ONLY_TEST_LABEL "" CACHE STRING "Build only the tests with this label, and no tools")

set(ZYN_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)

# Every build, the Windows images and the plug-in included, warns alike. CI (scripts/test)
# makes a warning fail the build; a developer's own build may keep them as warnings.
add_compile_options(-Wall -Wextra)
option(ZYN_WARNINGS_AS_ERRORS "Fail the build on any compiler warning" OFF)
set(CMAKE_COMPILE_WARNING_AS_ERROR ${ZYN_WARNINGS_AS_ERRORS})

if(NOT ZYN_WINDOWS)
    add_compile_options(-fno-strict-aliasing)
    if(ZYN_SANITIZER STREQUAL "address")
        # Driver classes are built without RTTI, which the vptr check needs.
        add_compile_options(-fsanitize=address,undefined -fno-sanitize=vptr
                            -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
        add_link_options(-fsanitize=address,undefined)
    elseif(ZYN_SANITIZER STREQUAL "thread")
        add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
        add_link_options(-fsanitize=thread)
    elseif(NOT ZYN_SANITIZER STREQUAL "")
        message(FATAL_ERROR "Unknown ZYN_SANITIZER '${ZYN_SANITIZER}'")
    endif()
endif()

# Kernel code: no exceptions, no RTTI, the platform headers through driver/wdk.h.
function(zyn_kernel_flags target)
    get_target_property(target_type ${target} TYPE)
    target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
    target_include_directories(${target} PUBLIC ${ZYN_ROOT} ${ZYN_ROOT}/include)
    if(ZYN_WINDOWS)
        # mingw-w64's WDK headers in C++: these intrinsics clash unless marked as defined.
        target_compile_definitions(${target} PUBLIC
            __INTRINSIC_DEFINED_InterlockedBitTestAndSet
            __INTRINSIC_DEFINED_InterlockedBitTestAndReset
            _KERNEL_MODE=1 NTDDI_VERSION=0x06010000 _WIN32_WINNT=0x0601)
        target_include_directories(${target} SYSTEM PUBLIC
            ${CMAKE_FIND_ROOT_PATH}/include/ddk)
        target_compile_options(${target} PRIVATE
            -ffreestanding -fno-asynchronous-unwind-tables -fno-stack-protector
            -fno-math-errno -fno-threadsafe-statics -mno-stack-arg-probe)
        # Driver libraries bring their imports along, so that an image's link line names the
        # import libraries after every static library that needs them.
        if(NOT target_type STREQUAL "SHARED_LIBRARY")
            target_link_libraries(${target} INTERFACE ks ntoskrnl hal usbd gcc)
        endif()
    else()
        target_link_libraries(${target} PUBLIC zyn_sim_wdk zyn_sim_ks)
    endif()
endfunction()

# A static library of driver code, built in both the simulated and the Windows builds.
function(zyn_driver_library name)
    cmake_parse_arguments(D "" "" "SOURCES;LIBS" ${ARGN})
    add_library(${name} STATIC ${D_SOURCES})
    zyn_kernel_flags(${name})
    if(D_LIBS)
        target_link_libraries(${name} PUBLIC ${D_LIBS})
    endif()
endfunction()

# A GoogleTest program registered with CTest. LABELS marks groups (for example 'tsan'
# for the tests that scripts/test also runs under ThreadSanitizer).
function(zyn_add_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    if(ZYN_ONLY_TEST_LABEL AND NOT ZYN_ONLY_TEST_LABEL IN_LIST T_LABELS)
        # Defined, so that folders may still refer to it, but neither built nor run.
        add_executable(${name} EXCLUDE_FROM_ALL ${T_SOURCES})
        target_link_libraries(${name} PRIVATE ${T_LIBS} zyn_test_support GTest::gtest)
        return()
    endif()
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} zyn_test_support GTest::gtest)
    target_include_directories(${name} PRIVATE ${ZYN_ROOT} ${ZYN_ROOT}/include)
    # A test that hangs fails after five minutes instead of holding the whole run.
    set(props PROPERTIES TIMEOUT 300)
    if(T_LABELS)
        list(APPEND props LABELS "${T_LABELS}")
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 ${props})
endfunction()

# Test pictures kept in the repository.
set(ZYN_TESTDATA ${ZYN_ROOT}/testdata CACHE PATH "Folder of the test pictures")

# The USB ids of the family, defined here only: the emulated cameras answer with them (through
# the generated zyn_usb_ids.h), the drivers' installation files claim them, and usb_ids.txt in
# the build tree lists them for scripts/check-kernel-images.
set(ZYN_USB_VENDOR 2F7A)
set(ZYN_USB_MODELS Tern Heron Plover Egret)
set(ZYN_USB_PRODUCT_Tern 5201)
set(ZYN_USB_PRODUCT_Heron 5202)
set(ZYN_USB_PRODUCT_Plover 5203)
set(ZYN_USB_PRODUCT_Egret 5204)
set(ZYN_GENERATED_INCLUDE ${CMAKE_BINARY_DIR}/generated)
block()
    set(header "// Generated by cmake/ZynTargets.cmake, which holds the family's USB ids.\n")
    string(APPEND header "#pragma once\n\n#include <cstdint>\n\nnamespace zyn::usb_ids {\n\n")
    string(APPEND header "constexpr uint16_t kVendor = 0x${ZYN_USB_VENDOR};\n")
    set(list "")
    foreach(model IN LISTS ZYN_USB_MODELS)
        string(APPEND header "constexpr uint16_t k${model}Product = 0x${ZYN_USB_PRODUCT_${model}};\n")
        string(APPEND list "${model} ${ZYN_USB_VENDOR} ${ZYN_USB_PRODUCT_${model}}\n")
    endforeach()
    string(APPEND header "\n} // namespace zyn::usb_ids\n")
    # Written only when changed, so that a configure rebuilds nothing.
    file(CONFIGURE OUTPUT ${ZYN_GENERATED_INCLUDE}/zyn_usb_ids.h CONTENT "${header}")
    file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/usb_ids.txt CONTENT "${list}")
endblock()

# Test signing, Windows builds only: a test certificate made once per build tree by openssl (in
# test-signing/, never committed), and every .sys and .ax signed with it by osslsigncode after
# each link. A machine in test-signing mode that trusts the certificate loads the images.
if(ZYN_WINDOWS)
    find_program(ZYN_OPENSSL openssl REQUIRED)
    find_program(ZYN_OSSLSIGNCODE osslsigncode REQUIRED)
    set(ZYN_TEST_SIGNING_DIR ${CMAKE_BINARY_DIR}/test-signing)
    set(ZYN_TEST_CERTIFICATE ${ZYN_TEST_SIGNING_DIR}/OculixZYN-test.crt)
    set(ZYN_TEST_KEY ${ZYN_TEST_SIGNING_DIR}/OculixZYN-test.key)
    # The same certificate in the DER form Windows' certificate import takes.
    set(ZYN_TEST_CERTIFICATE_DER ${ZYN_TEST_SIGNING_DIR}/OculixZYN-test.cer)
    add_custom_command(OUTPUT ${ZYN_TEST_CERTIFICATE} ${ZYN_TEST_KEY} ${ZYN_TEST_CERTIFICATE_DER}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${ZYN_TEST_SIGNING_DIR}
        COMMAND ${ZYN_OPENSSL} req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650
                -subj "/CN=Oculix ZYN test signing" -addext "keyUsage=critical,digitalSignature"
                -addext "extendedKeyUsage=codeSigning" -keyout ${ZYN_TEST_KEY}
                -out ${ZYN_TEST_CERTIFICATE} 2>/dev/null
        COMMAND ${ZYN_OPENSSL} x509 -in ${ZYN_TEST_CERTIFICATE} -outform der
                -out ${ZYN_TEST_CERTIFICATE_DER}
        COMMENT "Making the test-signing certificate")
    add_custom_target(zyn_test_certificate DEPENDS ${ZYN_TEST_CERTIFICATE})
endif()

# Signs the image of a target with the test certificate each time it links.
function(zyn_test_sign target)
    add_dependencies(${target} zyn_test_certificate)
    set(image $<TARGET_FILE:${target}>)
    add_custom_command(TARGET ${target} POST_BUILD
        # osslsigncode will not overwrite what an interrupted signing left.
        COMMAND ${CMAKE_COMMAND} -E rm -f ${image}.signed
        COMMAND ${ZYN_OSSLSIGNCODE} sign -certs ${ZYN_TEST_CERTIFICATE} -key ${ZYN_TEST_KEY}
                -h sha256 -n "Oculix ZYN" -in ${image} -out ${image}.signed > /dev/null
        COMMAND ${CMAKE_COMMAND} -E rename ${image}.signed ${image}
        COMMENT "Test-signing $<TARGET_FILE_NAME:${target}>")
endfunction()

# A kernel-mode driver image (.sys), Windows builds only: native subsystem, entered at
# DriverEntry, linked against the kernel, kernel streaming and USB import libraries and nothing
# else (no C or C++ runtime). A camera driver names its MODEL and gets its installation file,
# claiming the model's USB ids, beside the image.
function(zyn_kernel_image name)
    cmake_parse_arguments(K "" "MODEL" "SOURCES;LIBS" ${ARGN})
    if(K_MODEL)
        set(IMAGE ${name})
        set(MODEL ${K_MODEL})
        set(VENDOR ${ZYN_USB_VENDOR})
        set(PRODUCT ${ZYN_USB_PRODUCT_${K_MODEL}})
        if(NOT PRODUCT)
            message(FATAL_ERROR "No USB product id for the model ${K_MODEL}")
        endif()
        if(CMAKE_SIZEOF_VOID_P EQUAL 4)
            set(DECORATION NTx86)
        else()
            set(DECORATION NTamd64)
        endif()
        configure_file(${ZYN_ROOT}/windows/inf/OculixZYN.inf.in
                       ${CMAKE_CURRENT_BINARY_DIR}/${name}.inf @ONLY NEWLINE_STYLE CRLF)
    endif()
    add_library(${name} SHARED ${K_SOURCES})
    zyn_kernel_flags(${name})
    set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".sys")
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(entry _DriverEntry@8)
    else()
        set(entry DriverEntry)
    endif()
    target_link_options(${name} PRIVATE -nostdlib -nostartfiles -Wl,--subsystem,native
                        -Wl,--entry,${entry})
    # libgcc supplies compiler helpers only (64-bit division on x86), no runtime.
    target_link_libraries(${name} PRIVATE ${K_LIBS} ks ntoskrnl hal usbd gcc)
    zyn_test_sign(${name})
endfunction()
