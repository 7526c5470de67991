# The NIST/CAVP and RFC vector files of Debian's python3-cryptography-vectors,
# which only the system interpreter sees. Sets CryptographyVectors_FOUND and
# CryptographyVectors_DIR; CMAKE_DISABLE_FIND_PACKAGE_CryptographyVectors
# hides them like any other package.
find_program(ADRVET_SYSTEM_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(ADRVET_SYSTEM_PYTHON AND NOT CryptographyVectors_DIR)
  execute_process(
    COMMAND ${ADRVET_SYSTEM_PYTHON} -c
            "import cryptography_vectors, os; print(os.path.dirname(cryptography_vectors.__file__))"
    OUTPUT_VARIABLE vectors_dir
    OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET
    RESULT_VARIABLE vectors_result)
  if(vectors_result EQUAL 0 AND IS_DIRECTORY "${vectors_dir}")
    set(CryptographyVectors_DIR "${vectors_dir}" CACHE PATH "The cryptography_vectors package directory")
  endif()
endif()
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(CryptographyVectors
  REQUIRED_VARS CryptographyVectors_DIR
  REASON_FAILURE_MESSAGE "install the Debian package python3-cryptography-vectors")
