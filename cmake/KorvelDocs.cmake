# korvel_bundle_docs(<bundle> [MODELS <Model>...] [PICTURE <board.bmp>])
# Stages a bundle's documentation beside its library in DOCS/<bundle>/: from the calling
# module's docs/ folder the description page (description.html), the credits page
# (credit.html) and the schematic (schematic.svg, drawn to the 24-bit schematic.bmp that the
# information dialog shows), and the 3D models that tools/modelgen builds (<Model>.obj, .mtl and
# their .tga textures). PICTURE is the board picture that the "Board" model is textured with.
find_program(KORVEL_RSVG_CONVERT rsvg-convert)
find_program(KORVEL_IMAGEMAGICK_CONVERT convert)

function(korvel_bundle_docs bundle)
  cmake_parse_arguments(D "" "PICTURE" "MODELS" ${ARGN})
  set(dir ${KORVEL_STAGE_DOCS}/${bundle})
  set(src ${CMAKE_CURRENT_SOURCE_DIR}/docs)
  set(outputs)
  foreach(page description.html credit.html)
    if(EXISTS ${src}/${page})
      add_custom_command(OUTPUT ${dir}/${page}
        COMMAND ${CMAKE_COMMAND} -E copy ${src}/${page} ${dir}/${page}
        DEPENDS ${src}/${page} VERBATIM)
      list(APPEND outputs ${dir}/${page})
    endif()
  endforeach()

  if(EXISTS ${src}/schematic.svg)
    set(bmp ${dir}/schematic.bmp)
    set(png ${CMAKE_CURRENT_BINARY_DIR}/${bundle}_schematic.png)
    if(KORVEL_RSVG_CONVERT AND KORVEL_IMAGEMAGICK_CONVERT)
      add_custom_command(OUTPUT ${bmp}
        COMMAND ${KORVEL_RSVG_CONVERT} --background-color=white -o ${png} ${src}/schematic.svg
        COMMAND ${KORVEL_IMAGEMAGICK_CONVERT} ${png} -type TrueColor BMP3:${bmp}
        DEPENDS ${src}/schematic.svg
        COMMENT "Drawing the ${bundle} schematic" VERBATIM)
    else()
      add_custom_command(OUTPUT ${bmp}
        COMMAND ${CMAKE_COMMAND} -E echo "error: drawing the ${bundle} schematic needs rsvg-convert (librsvg2-bin) and convert (imagemagick); run scripts/install-deps"
        COMMAND ${CMAKE_COMMAND} -E false VERBATIM)
    endif()
    list(APPEND outputs ${bmp})
  endif()

  if(D_MODELS)
    set(models)
    foreach(m ${D_MODELS})
      list(APPEND models ${dir}/${m}.obj ${dir}/${m}.mtl)
    endforeach()
    set(picture)
    if(D_PICTURE)
      set(picture --picture ${D_PICTURE})
    endif()
    add_custom_command(OUTPUT ${models}
      # A build tool, not the product: its sanitizer reports must not stop the build.
      COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
              $<TARGET_FILE:korvel_modelgen> ${dir} ${picture} ${D_MODELS}
      DEPENDS korvel_modelgen ${D_PICTURE}
      COMMENT "Building the ${bundle} 3D models" VERBATIM)
    list(APPEND outputs ${models})
  endif()

  add_custom_target(${bundle}_docs ALL DEPENDS ${outputs})
  set_property(GLOBAL APPEND PROPERTY KORVEL_BUNDLE_DOCS ${bundle}_docs)
  set_property(GLOBAL APPEND PROPERTY KORVEL_DOCUMENTED_BUNDLES ${bundle})
endfunction()
