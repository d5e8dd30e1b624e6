# The wizard runs elevated from the user's Downloads folder, where any web
# page can drop a DLL. Windows looks for an imported DLL in the program's own
# folder first unless it is a KnownDLL, and the system DLLs the program loads
# at start bring imports of their own. So the wizard programs import only
# kernel32 and msvcrt (which the C runtime starts with) the usual way; every
# other system DLL is delay-loaded: the loader maps it on first use, after the
# program has restricted the DLL search to the system folder
# (shell/DllSearch.cpp), and that restriction covers its imports too.
set(OSTREL_DELAY_LOADED_DLLS
    comctl32 gdiplus winhttp wininet bcrypt shlwapi shell32 ole32 oleaut32 version gdi32 user32 advapi32)

# Those that are not KnownDLLs on every Windows the wizard runs on (gdiplus is
# one from Windows 8 on, wininet only up to Windows 7): what someone would
# plant beside the program.
set(OSTREL_PLANTABLE_DLLS bcrypt comctl32 gdiplus version winhttp wininet)

# Writes a generated file only when its content changes, so what is built
# from it is not rebuilt on every configure.
function(ostrel_write_if_changed path content)
  file(WRITE ${path}.new "${content}")
  file(COPY_FILE ${path}.new ${path} ONLY_IF_DIFFERENT)
  file(REMOVE ${path}.new)
endfunction()

# The functions (no data) an import library of the toolchain offers, as
# undecorated names, and as the names a module-definition file for this
# architecture uses (with the @n of stdcall functions on i686).
function(ostrel_import_library_functions dll out_names out_def_names)
  execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=lib${dll}.a
                  OUTPUT_VARIABLE library OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT EXISTS "${library}")
    message(FATAL_ERROR "no import library lib${dll}.a in the toolchain")
  endif()
  execute_process(COMMAND ${CMAKE_NM} ${library} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${CMAKE_NM} could not list ${library}")
  endif()
  # A function has a thunk (T) beside its import slot (I __imp_); data has only the slot.
  string(REGEX MATCHALL "[^\n]* I __imp_[^\n]*" slots "${symbols}")
  string(REGEX MATCHALL "[^\n]* T [^\n]*" thunks "${symbols}")
  list(TRANSFORM slots REPLACE ".* I __imp_" "")
  list(TRANSFORM thunks REPLACE ".* T " "")
  set(names)
  set(def_names)
  foreach(thunk IN LISTS thunks)
    if(NOT thunk IN_LIST slots)
      continue()
    endif()
    set(def_name ${thunk})
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      # C symbols carry a leading underscore on i686; module definitions do not.
      string(REGEX REPLACE "^_" "" def_name "${def_name}")
    endif()
    string(REGEX REPLACE "@[0-9]+$" "" name "${def_name}")
    list(APPEND names ${name})
    list(APPEND def_names ${def_name})
  endforeach()
  list(REMOVE_DUPLICATES names)
  list(REMOVE_DUPLICATES def_names)
  if(NOT names)
    message(FATAL_ERROR "no functions found in ${library}")
  endif()
  set(${out_names} ${names} PARENT_SCOPE)
  set(${out_def_names} ${def_names} PARENT_SCOPE)
endfunction()

# Builds a delay-import library for one system DLL from the toolchain's own
# import library and returns its path.
function(ostrel_delay_import_library dll out_path)
  if(NOT CMAKE_DLLTOOL)
    message(FATAL_ERROR "dlltool not found: it builds the delay-import libraries")
  endif()
  ostrel_import_library_functions(${dll} names def_names)
  set(folder ${CMAKE_BINARY_DIR}/delay-imports)
  set(def ${folder}/${dll}.def)
  set(library ${folder}/lib${dll}_delay.a)
  list(JOIN def_names "\n" exports)
  ostrel_write_if_changed(${def} "LIBRARY ${dll}.dll\nEXPORTS\n${exports}\n")
  if(NOT EXISTS ${library} OR ${def} IS_NEWER_THAN ${library})
    # --kill-at: the DLL exports the stdcall names without their @n.
    execute_process(COMMAND ${CMAKE_DLLTOOL} --kill-at --input-def ${def} --dllname ${dll}.dll
                            --output-delaylib ${library}
                    RESULT_VARIABLE failed ERROR_VARIABLE errors)
    if(failed)
      message(FATAL_ERROR "dlltool could not build ${library}: ${errors}")
    endif()
  endif()
  set(${out_path} ${library} PARENT_SCOPE)
endfunction()
