# Writes a gzipped man page from a program's --help and --version with help2man.
#   cmake -DHELP2MAN=... -DPROGRAM=<executable> -DNAME=<one line> -DOUTPUT=<file.1.gz>
#         [-DCOMMANDS=a,b,c] -P ManPage.cmake
# COMMANDS: subcommands whose 'PROGRAM help COMMAND' text goes into a COMMANDS
# section, kept as printed (the texts are laid out in columns).
get_filename_component(program_name ${PROGRAM} NAME)
get_filename_component(work ${OUTPUT} DIRECTORY)
set(page ${work}/${program_name}.1)
set(include_args)

string(REPLACE "," ";" COMMANDS "${COMMANDS}")
if(COMMANDS)
    set(include_file ${work}/${program_name}.h2m)
    set(text "[COMMANDS]\n")
    foreach(command IN LISTS COMMANDS)
        execute_process(COMMAND ${PROGRAM} help ${command}
            OUTPUT_VARIABLE help RESULT_VARIABLE result)
        if(NOT result EQUAL 0)
            message(FATAL_ERROR "${program_name} help ${command} failed (${result})")
        endif()
        # roff: a backslash is written \e; a line starting with . or ' is a
        # request unless \& comes first.
        string(REPLACE "\\" "\\e" help "${help}")
        string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
        string(APPEND text ".SS \"${program_name} ${command}\"\n.nf\n${help}.fi\n")
    endforeach()
    file(WRITE ${include_file} "${text}")
    set(include_args --include=${include_file})
endif()

execute_process(
    COMMAND ${HELP2MAN} --no-info --section=1 --manual=Dravik "--name=${NAME}" ${include_args}
            --output=${page} ${PROGRAM}
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "help2man ${program_name} failed (${result})")
endif()
# -n: no name or time stamp in the archive, so that the package is reproducible.
execute_process(COMMAND gzip -9 -n -f ${page} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "gzip ${page} failed (${result})")
endif()
