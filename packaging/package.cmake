# The Debian package: cpack -G DEB from the build folder (scripts/package does it).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qv)
set(CPACK_PACKAGE_VENDOR "the QV developers")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${QV_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "realtime 3D player for character content")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Shipped programs carry no debugging sections and no path of the build.
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QV_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "QV imports PMX and PMD models, DirectX text mesh accessories, VMD
motions, VPD poses, songs (WAV, MP3, AAC, Ogg Vorbis, Opus, FLAC) and
HLSL effect shaders, poses every model with its skeleton, morphs, IK and
physics, and plays them in one window with toon shading, shadows and
outlines, the song alongside. Tool windows manage the content, pose
bones, edit materials and morphs and change the settings. qv-inspect
shows what a content file holds; qv-pose prints a model's pose at any
moment of a motion. No content is included.")
# The libraries come from the programs themselves; the font and a Vulkan
# driver are found at run time, so they are named by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk, mesa-vulkan-drivers | vulkan-icd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
