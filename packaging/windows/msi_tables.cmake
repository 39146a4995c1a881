# Adds to the MSI that wixl made what wixl cannot write: the installer's dialogs, the custom
# actions (the firewall rules, the Uninstall entry's InstallLocation, the common Start menu) and
# their places in the sequences. Each .idt file in TABLES is one whole table, imported as it is;
# rows.sql there adds rows to wixl's tables, one statement a line.
#   cmake -DMSIBUILD=<msibuild> -DMSI=<file.msi> -DTABLES=<folder> -P msi_tables.cmake
file(GLOB tables ${TABLES}/*.idt)
foreach(table IN LISTS tables)
  execute_process(COMMAND ${MSIBUILD} ${MSI} -i ${table} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "msibuild could not import ${table} into ${MSI}")
  endif()
endforeach()
file(STRINGS ${TABLES}/rows.sql statements REGEX "^INSERT ")
foreach(statement IN LISTS statements)
  execute_process(COMMAND ${MSIBUILD} ${MSI} -q "${statement}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "msibuild could not run on ${MSI}: ${statement}")
  endif()
endforeach()
