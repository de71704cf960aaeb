# Authenticode signing of the shipped programs (tools/sign.sh, osslsigncode).
# The signer is one of, in this order:
#   NY_SIGN_PFX [NY_SIGN_PASS_FILE]                      a certificate with its key (PKCS#12)
#   NY_SIGN_PKCS11_MODULE NY_SIGN_KEY NY_SIGN_CERTS      a key in a hardware token
#   NY_SIGN_TEST_DIR                                     the throw-away test identity
#                                                        (tools/sign.sh identity DIR)
# and the timestamp NY_SIGN_TIMESTAMP_URL (an RFC 3161 server) or, for the
# test identity, its own timestamp authority. Without a signer nothing is
# signed.
set(NY_SIGN_PFX "" CACHE FILEPATH "PKCS#12 file of the code-signing certificate and key")
set(NY_SIGN_PASS_FILE "" CACHE FILEPATH "File holding the password of NY_SIGN_PFX or the token's PIN")
set(NY_SIGN_PKCS11_MODULE "" CACHE FILEPATH "PKCS#11 module of a hardware token")
set(NY_SIGN_KEY "" CACHE STRING "PKCS#11 URI of the key in the token")
set(NY_SIGN_CERTS "" CACHE FILEPATH "PEM file of the token key's certificate and its chain")
set(NY_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 timestamp server")
set(NY_SIGN_TEST_DIR "" CACHE PATH "Folder of the test signing identity")

set(NY_SIGN_ARGS "")
set(NY_SIGN_CA_FILE "")
if(NY_SIGN_PFX)
  list(APPEND NY_SIGN_ARGS -pkcs12 "${NY_SIGN_PFX}")
elseif(NY_SIGN_PKCS11_MODULE)
  list(APPEND NY_SIGN_ARGS -pkcs11module "${NY_SIGN_PKCS11_MODULE}" -key "${NY_SIGN_KEY}" -certs "${NY_SIGN_CERTS}")
elseif(NY_SIGN_TEST_DIR)
  list(APPEND NY_SIGN_ARGS -pkcs12 "${NY_SIGN_TEST_DIR}/signer.pfx" -readpass "${NY_SIGN_TEST_DIR}/pass.txt")
  set(NY_SIGN_CA_FILE "${NY_SIGN_TEST_DIR}/ca.pem")
endif()
if(NY_SIGN_ARGS AND NY_SIGN_PASS_FILE AND NOT NY_SIGN_TEST_DIR)
  list(APPEND NY_SIGN_ARGS -readpass "${NY_SIGN_PASS_FILE}")
endif()
if(NY_SIGN_ARGS AND NY_SIGN_TIMESTAMP_URL)
  list(APPEND NY_SIGN_ARGS -ts "${NY_SIGN_TIMESTAMP_URL}")
elseif(NY_SIGN_ARGS AND NY_SIGN_CA_FILE)
  list(APPEND NY_SIGN_ARGS -TSA-certs "${NY_SIGN_TEST_DIR}/tsa-chain.pem" -TSA-key "${NY_SIGN_TEST_DIR}/tsa.key")
elseif(NY_SIGN_ARGS)
  message(WARNING "No NY_SIGN_TIMESTAMP_URL: the signatures carry no timestamp and end with the certificate")
endif()

# The signer's SHA-1 thumbprint, which the setup logs and the tests expect.
set(NY_SIGNER_THUMBPRINT "")
if(NY_SIGN_ARGS)
  execute_process(COMMAND bash "${CMAKE_SOURCE_DIR}/tools/sign.sh" thumbprint ${NY_SIGN_ARGS}
                  OUTPUT_VARIABLE NY_SIGNER_THUMBPRINT OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE thumbprint_result)
  if(NOT thumbprint_result EQUAL 0)
    message(FATAL_ERROR "The signing certificate cannot be read (tools/sign.sh thumbprint ${NY_SIGN_ARGS})")
  endif()
else()
  message(STATUS "The programs are not signed: no NY_SIGN_PFX, NY_SIGN_PKCS11_MODULE or NY_SIGN_TEST_DIR")
endif()

# ny_sign_target(TARGET DESCRIPTION): signs the target's file right after it
# is linked, so every link is signed once, and only a link is. DESCRIPTION is
# the program's name in the signature (what Windows shows when it asks).
function(ny_sign_target target description)
  if(NOT NY_SIGN_ARGS)
    return()
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND bash "${CMAKE_SOURCE_DIR}/tools/sign.sh" sign "$<TARGET_FILE:${target}>" "${description}" ${NY_SIGN_ARGS}
    COMMENT "Signing ${target}"
    VERBATIM)
endfunction()
