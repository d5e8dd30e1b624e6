# The public keys a build trusts to sign configuration answers, from
# OSTREL_CONFIG_KEY: PEM files (SubjectPublicKeyInfo of a P-256 key) separated
# by ";". Each key's base64 body is embedded as it stands; a file that holds
# anything else fails the configuration step here rather than making a wizard
# that trusts no answer. Without the variable the list is empty and the
# wizard takes configuration answers on TLS alone.
set(OSTREL_CONFIG_KEY "" CACHE STRING "PEM public keys (P-256) that configuration answers must be signed by, separated by ;")

# Every P-256 SubjectPublicKeyInfo with an uncompressed point is 91 bytes and
# begins with the same 27: the algorithm, the curve and the point's 0x04.
set(_ostrel_p256_spki_prefix "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE")
set(OSTREL_CONFIG_KEY_LINES "")
foreach(_key_file IN LISTS OSTREL_CONFIG_KEY)
  if(NOT EXISTS "${_key_file}")
    message(FATAL_ERROR "OSTREL_CONFIG_KEY: no file ${_key_file}")
  endif()
  file(READ "${_key_file}" _pem)
  string(REGEX MATCH "-----BEGIN PUBLIC KEY-----(.*)-----END PUBLIC KEY-----" _block "${_pem}")
  string(REGEX REPLACE "[ \t\r\n]" "" _body "${CMAKE_MATCH_1}")
  string(LENGTH "${_body}" _length)
  string(FIND "${_body}" "${_ostrel_p256_spki_prefix}" _at)
  if(NOT _block OR NOT _length EQUAL 124 OR NOT _at EQUAL 0)
    message(FATAL_ERROR "OSTREL_CONFIG_KEY: ${_key_file} is not a PEM public key of the P-256 curve")
  endif()
  string(APPEND OSTREL_CONFIG_KEY_LINES "    \"${_body}\",\n")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_key_file}")
endforeach()
configure_file(${CMAKE_SOURCE_DIR}/api/EmbeddedConfigurationKeys.inc.in
               ${CMAKE_BINARY_DIR}/generated/api/EmbeddedConfigurationKeys.inc @ONLY)
