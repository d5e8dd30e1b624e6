# Authenticode signing of the wizard programs. A distributor gives its code
# signing certificate and private key (never committed) as cache variables or
# through the environment at configure time:
#
#   cmake --preset release-i686 -DOSTREL_SIGN_CERT=/path/cert.pem -DOSTREL_SIGN_KEY=/path/key.pem
#   OSTREL_SIGN_CERT=... OSTREL_SIGN_KEY=... cmake --preset release-i686
#
# The certificate may be PEM or DER (a chain in one PEM file is embedded
# whole); OSTREL_SIGN_PASS_FILE names a file holding the key's passphrase.
# Without a certificate and key the programs stay unsigned, as test builds do.
# No time-stamp authority is asked: the build never leaves the machine.

set(OSTREL_SIGN_CERT "$ENV{OSTREL_SIGN_CERT}" CACHE FILEPATH "Code signing certificate (PEM or DER) for the wizard programs")
set(OSTREL_SIGN_KEY "$ENV{OSTREL_SIGN_KEY}" CACHE FILEPATH "Private key of the code signing certificate")
set(OSTREL_SIGN_PASS_FILE "$ENV{OSTREL_SIGN_PASS_FILE}" CACHE FILEPATH "File holding the private key's passphrase (optional)")

set(OSTREL_SIGNING OFF)
if(OSTREL_SIGN_CERT OR OSTREL_SIGN_KEY)
  if(NOT OSTREL_SIGN_CERT OR NOT OSTREL_SIGN_KEY)
    message(FATAL_ERROR "Signing needs both OSTREL_SIGN_CERT and OSTREL_SIGN_KEY.")
  endif()
  foreach(file ${OSTREL_SIGN_CERT} ${OSTREL_SIGN_KEY} ${OSTREL_SIGN_PASS_FILE})
    if(NOT EXISTS "${file}")
      message(FATAL_ERROR "Signing: ${file} does not exist.")
    endif()
  endforeach()
  find_program(OSTREL_OSSLSIGNCODE osslsigncode)
  if(NOT OSTREL_OSSLSIGNCODE)
    message(FATAL_ERROR "Signing needs osslsigncode (Debian package osslsigncode).")
  endif()
  set(OSTREL_SIGNING ON)
  message(STATUS "Wizard programs are signed with ${OSTREL_SIGN_CERT}")
else()
  message(STATUS "Wizard programs are not signed (no OSTREL_SIGN_CERT and OSTREL_SIGN_KEY given)")
endif()

# What the programs were signed with: a change relinks them, so they are
# signed again with the new certificate (or left unsigned without one). The
# certificate counts by its content, not only its path: a certificate renewed
# in place must not leave programs signed with the old one.
set(OSTREL_SIGN_CERT_DIGEST "")
if(OSTREL_SIGNING)
  file(SHA256 ${OSTREL_SIGN_CERT} OSTREL_SIGN_CERT_DIGEST)
endif()
set(OSTREL_SIGNING_STAMP ${CMAKE_BINARY_DIR}/generated/signing-identity.txt)
file(CONFIGURE OUTPUT ${OSTREL_SIGNING_STAMP}
  CONTENT "${OSTREL_SIGNING} ${OSTREL_SIGN_CERT} ${OSTREL_SIGN_CERT_DIGEST} ${OSTREL_SIGN_KEY} ${OSTREL_SIGN_PASS_FILE}\n")

# Signs the target's program in place after every link. osslsigncode writes
# a new file; the rename replaces the unsigned program only on success, and
# a failed signature fails the build rather than leaving an unsigned program
# that looks finished.
function(ostrel_sign_program target)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${OSTREL_SIGNING_STAMP})
  if(NOT OSTREL_SIGNING)
    return()
  endif()
  set(pass)
  if(OSTREL_SIGN_PASS_FILE)
    set(pass -readpass ${OSTREL_SIGN_PASS_FILE})
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E rm -f $<TARGET_FILE:${target}>.signed
    COMMAND ${OSTREL_OSSLSIGNCODE} sign -certs ${OSTREL_SIGN_CERT} -key ${OSTREL_SIGN_KEY} ${pass}
      -h sha256 -n "Ostrel Setup" -in $<TARGET_FILE:${target}> -out $<TARGET_FILE:${target}>.signed
    COMMAND ${CMAKE_COMMAND} -E rename $<TARGET_FILE:${target}>.signed $<TARGET_FILE:${target}>
    COMMENT "Signing $<TARGET_FILE_NAME:${target}>"
    VERBATIM)
endfunction()
