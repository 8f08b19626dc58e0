# Helpers for the targets that make up the program directory.

# A ".bpl" package: an ordinary shared object named the way the register's files are named.
function(jov_package target file_name)
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${file_name}
    SUFFIX ".bpl"
    LIBRARY_OUTPUT_DIRECTORY ${JOV_PROGRAM_DIR})
endfunction()

# A program of the program directory (JOV.EXE and its siblings).
function(jov_program target file_name)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${file_name}
    RUNTIME_OUTPUT_DIRECTORY ${JOV_PROGRAM_DIR})
endfunction()
