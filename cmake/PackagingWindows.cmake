# cmake/PackagingWindows.cmake: the ZIP for Windows benches (`cpack` in the windows build).
#
#   kelvotest.exe              the tool; the vendor's kelvoscanusb.dll goes beside it
#   kelvotest-virtual.cmd      runs the tool against the virtual scanner
#   README.md
#   virtual\kelvotest.exe      a copy of the tool, so that it loads the DLL beside it:
#   virtual\kelvoscanusb.dll   the virtual scanner
#   virtual\scanner3.mcs       its default FPGA file
#   recorder\kelvotest-record.cmd  records a session: the recording kelvoscanusb.dll beside it
#   recorder\kelvoscanusb.dll      stands in front of the real library, which it loads by path
#   kelvotrace.exe             reads a trace
#
# The tool's own folder holds no device library: Windows looks for a DLL beside the program
# first, so the vendor's library placed there is the one used, and the virtual scanner can
# never be picked up by mistake. The copy in virtual\ is what keeps the virtual scanner
# reachable once the vendor's library is installed (a PATH entry would lose against it).
#
# The recording library has the device library's name too, so it lies in a folder of its own
# that no program is started from; kelvotest-record.cmd puts a copy of it beside a copy of the
# program it records.
install(PROGRAMS $<TARGET_FILE:kelvotest> DESTINATION . COMPONENT bench)
install(FILES ${CMAKE_SOURCE_DIR}/cmake/windows/kelvotest-virtual.cmd
              ${CMAKE_SOURCE_DIR}/README.md DESTINATION . COMPONENT bench)
install(PROGRAMS $<TARGET_FILE:kelvotest> DESTINATION virtual COMPONENT bench)
install(FILES $<TARGET_FILE:kelvoscanusb> ${KELVO_OUTPUT_DIR}/scanner3.mcs DESTINATION virtual
        COMPONENT bench)
install(FILES $<TARGET_FILE:kelvorec> ${CMAKE_SOURCE_DIR}/recorder/kelvotest-record.cmd
        DESTINATION recorder COMPONENT bench)
install(PROGRAMS $<TARGET_FILE:kelvotrace> DESTINATION . COMPONENT bench)

# The settings every package shares, and include(CPack), are in cmake/Packaging.cmake, which
# the root CMakeLists.txt includes after this file.
set(CPACK_GENERATOR ZIP)
set(CPACK_SYSTEM_NAME win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL bench)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
