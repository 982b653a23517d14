# Empties a folder for the pictures of one test run: cmake -DFOLDER=... -P fresh_folder.cmake
file(REMOVE_RECURSE ${FOLDER})
file(MAKE_DIRECTORY ${FOLDER})
