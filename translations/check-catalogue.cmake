# Fails when the Russian catalogue is behind the sources: lupdate, run on a
# copy, finds a text without translation (new, or left unfinished) or an entry
# whose text is gone from the sources.
#   cmake -DLUPDATE=<lupdate> -DCATALOGUE=<ru.ts> -DCOPY=<scratch .ts> -DSTAMP=<file>
#         -DSOURCES=<folder;folder...> -P check-catalogue.cmake
file(COPY_FILE ${CATALOGUE} ${COPY})
execute_process(
    COMMAND ${LUPDATE} -silent -locations none -no-ui-lines -extensions cpp,h,qml ${SOURCES} -ts ${COPY}
    RESULT_VARIABLE result
    ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "lupdate failed on the catalogue: ${errors}")
endif()

# lupdate writes one element per line; follow the context and the source text
# of each message down to its translation.
file(STRINGS ${COPY} lines ENCODING UTF-8)
set(context "")
set(source "")
set(problems "")
foreach(line IN LISTS lines)
    if(line MATCHES "<name>(.*)</name>")
        set(context "${CMAKE_MATCH_1}")
    elseif(line MATCHES "<source>(.*)</source>")
        set(source "${CMAKE_MATCH_1}")
    elseif(line MATCHES "<source>(.*)")
        set(source "${CMAKE_MATCH_1}...")
    elseif(line MATCHES "<translation type=\"unfinished\"")
        string(APPEND problems "\n  untranslated: ${context}: ${source}")
    elseif(line MATCHES "<translation type=\"(vanished|obsolete)\"")
        string(APPEND problems "\n  no longer in the sources: ${context}: ${source}")
    endif()
endforeach()
if(problems)
    message(FATAL_ERROR "translations/ru.ts is not up to date with the sources:${problems}\n"
                        "Translate new texts and remove entries the sources no longer have.")
endif()
file(TOUCH ${STAMP})
