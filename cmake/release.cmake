# The steps that make a linked installer a release: Authenticode signing with
# osslsigncode when a certificate is named, the checksum file beside it, and
# one summary of what was built.

# korvane_add_release_steps(<target> APP_EXE_GZ <file> WEBVIEW_LOADER_GZ <file>)
# After <target> links: signs it (KORVANE_SIGN_PKCS12 with
# KORVANE_SIGN_PASSWORD_FILE, optionally KORVANE_SIGN_TIMESTAMP_URL), writes
# <target>.exe.sha256 in sha256sum's format and prints the summary, where
# KORVANE_<id>_SOURCE names the file each payload came from.
function(korvane_add_release_steps target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "APP_EXE_GZ;WEBVIEW_LOADER_GZ" "")
  set(KORVANE_SIGN_PKCS12 "" CACHE FILEPATH
      "PKCS #12 file with the certificate and key that sign the installer (empty: unsigned)")
  set(KORVANE_SIGN_PASSWORD_FILE "" CACHE FILEPATH
      "File whose first line is the password of KORVANE_SIGN_PKCS12")
  set(KORVANE_SIGN_TIMESTAMP_URL "" CACHE STRING
      "RFC 3161 time-stamping server for the signature (empty: no time stamp)")

  set(exe $<TARGET_FILE:${target}>)
  set(signed no)
  if(KORVANE_SIGN_PKCS12)
    if(NOT KORVANE_SIGN_PASSWORD_FILE)
      message(FATAL_ERROR "KORVANE_SIGN_PKCS12 needs KORVANE_SIGN_PASSWORD_FILE, the file holding its password")
    endif()
    foreach(option KORVANE_SIGN_PKCS12 KORVANE_SIGN_PASSWORD_FILE)
      set(path "${${option}}")
      cmake_path(ABSOLUTE_PATH path BASE_DIRECTORY ${CMAKE_BINARY_DIR} NORMALIZE)
      if(NOT EXISTS ${path} OR IS_DIRECTORY ${path})
        message(FATAL_ERROR "${option}: no such file: ${path}")
      endif()
      set(${option}_PATH ${path})
    endforeach()
    find_program(KORVANE_OSSLSIGNCODE osslsigncode REQUIRED)
    find_program(KORVANE_OPENSSL openssl REQUIRED)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -DFILE=${exe} -DPKCS12=${KORVANE_SIGN_PKCS12_PATH}
              -DPASSWORD_FILE=${KORVANE_SIGN_PASSWORD_FILE_PATH}
              -DTIMESTAMP_URL=${KORVANE_SIGN_TIMESTAMP_URL} -DOSSLSIGNCODE=${KORVANE_OSSLSIGNCODE}
              -DOPENSSL=${KORVANE_OPENSSL} -P ${PROJECT_SOURCE_DIR}/cmake/sign_installer.cmake
      COMMENT "Signing ${target}.exe"
      VERBATIM)
    set(signed yes)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${KORVANE_PYTHON3} ${PROJECT_SOURCE_DIR}/tools/release_summary.py
            --installer ${exe} --version ${KORVANE_VERSION} --signed ${signed}
            --app ${arg_APP_EXE_GZ} --app-source ${KORVANE_APP_EXE_GZ_SOURCE}
            --loader ${arg_WEBVIEW_LOADER_GZ} --loader-source ${KORVANE_WEBVIEW_LOADER_GZ_SOURCE}
            --payload-tool ${KORVANE_PAYLOAD_TOOL}
    VERBATIM)
  # Another signing setup must relink, so that the new signature replaces the old.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS
               ${KORVANE_SIGN_PKCS12_PATH} ${KORVANE_SIGN_PASSWORD_FILE_PATH})
endfunction()
