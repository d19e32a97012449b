# cmake -DFILE=<exe> -DPKCS12=<file> -DPASSWORD_FILE=<file> [-DTIMESTAMP_URL=<url>]
#       -DOSSLSIGNCODE=<program> -DOPENSSL=<program> -P sign_installer.cmake
#
# Signs FILE in place with Authenticode (SHA-256) by osslsigncode, then has
# osslsigncode verify the signature it made: the image digest matches and
# the signature is intact and made by the certificate of PKCS12, taken as
# trusted together with the system's CA list (so that a self-signed
# certificate verifies too; whether Windows trusts the certificate is the
# certificate issuer's business). On any failure FILE is removed, so that
# the next build links and signs again instead of keeping an unsigned file,
# and the build stops with the tool's own words.

function(fail what output)
  file(REMOVE ${FILE} ${signed} ${ca_file})
  string(STRIP "${output}" output)
  message(FATAL_ERROR "${what} failed; ${FILE} removed:\n${output}")
endfunction()

set(signed ${FILE}.signed)
set(ca_file ${FILE}.signer-ca.pem)
file(REMOVE ${signed})

set(timestamp "")
if(TIMESTAMP_URL)
  set(timestamp -ts ${TIMESTAMP_URL})
endif()
execute_process(
  COMMAND ${OSSLSIGNCODE} sign -pkcs12 ${PKCS12} -readpass ${PASSWORD_FILE} -h sha256 ${timestamp}
          -in ${FILE} -out ${signed}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  fail("osslsigncode sign" "${out}")
endif()

# The signer's certificates, as the trust anchors of the verification.
execute_process(
  COMMAND ${OPENSSL} pkcs12 -in ${PKCS12} -passin file:${PASSWORD_FILE} -nokeys -out ${ca_file}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  # PKCS #12 files with older ciphers need OpenSSL's legacy provider.
  execute_process(
    COMMAND ${OPENSSL} pkcs12 -legacy -in ${PKCS12} -passin file:${PASSWORD_FILE} -nokeys -out ${ca_file}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    fail("Reading the certificates of ${PKCS12}" "${out}")
  endif()
endif()
set(system_cas /etc/ssl/certs/ca-certificates.crt)
if(EXISTS ${system_cas})
  file(READ ${system_cas} cas)
  file(APPEND ${ca_file} "${cas}")
endif()
set(tsa_ca "")
if(TIMESTAMP_URL AND EXISTS ${system_cas})
  set(tsa_ca -TSA-CAfile ${system_cas})
endif()
execute_process(
  COMMAND ${OSSLSIGNCODE} verify -CAfile ${ca_file} ${tsa_ca} -in ${signed}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  fail("osslsigncode verify" "${out}")
endif()
file(REMOVE ${ca_file})
file(RENAME ${signed} ${FILE})
