# ZIP writer and the Windows ZIP export.
find_package(ZLIB REQUIRED)
target_sources(vyo_share PRIVATE
    WindowsZipExporter.cpp WindowsZipExporter.h
    ZipWriter.cpp ZipWriter.h
)
target_link_libraries(vyo_share PUBLIC ZLIB::ZLIB Qt6::Widgets Qt6::DBus)
