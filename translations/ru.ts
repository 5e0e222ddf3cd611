<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>Download</name>
    <message>
        <source>Unable to fetch the requested image.</source>
        <translation>Не удалось загрузить запрошенный образ.</translation>
    </message>
    <message>
        <source>You ran out of space in your Downloads folder.</source>
        <translation>В папке загрузок закончилось свободное место.</translation>
    </message>
    <message>
        <source>The download file is not writable.</source>
        <translation>Файл загрузки недоступен для записи.</translation>
    </message>
    <message>
        <source>Connection timed out</source>
        <translation>Время ожидания соединения истекло</translation>
    </message>
</context>
<context>
    <name>Drive</name>
    <message>
        <source>This drive is not large enough.</source>
        <translation>Этот накопитель слишком мал.</translation>
    </message>
</context>
<context>
    <name>LinuxDrive</name>
    <message>
        <source>The drive was removed while it was written to.</source>
        <translation>Накопитель был извлечён во время записи.</translation>
    </message>
    <message>
        <source>There is no image file to write.</source>
        <translation>Нет файла образа для записи.</translation>
    </message>
    <message>
        <source>The image file name ends in &quot;.part&quot;, which marks an unfinished download. Rename the file if it is complete, and choose it again.</source>
        <translation>Имя файла образа оканчивается на «.part», что означает незавершённую загрузку. Если файл загружен полностью, переименуйте его и выберите снова.</translation>
    </message>
    <message>
        <source>Could not find the helper binary. Check your installation.</source>
        <translation>Не удалось найти вспомогательную программу. Проверьте установку.</translation>
    </message>
    <message>
        <source>Finished!</source>
        <translation>Готово!</translation>
    </message>
    <message>
        <source>Writing %1 was successful</source>
        <translation>Запись %1 успешно завершена</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Ошибка</translation>
    </message>
    <message>
        <source>Writing %1 failed</source>
        <translation>Не удалось записать %1</translation>
    </message>
    <message>
        <source>The helper program ended with status %1.</source>
        <translation>Вспомогательная программа завершилась с кодом %1.</translation>
    </message>
    <message>
        <source>The helper program ended without confirming that the image was written.</source>
        <translation>Вспомогательная программа завершилась, не подтвердив, что образ записан.</translation>
    </message>
    <message>
        <source>Stopped before writing has finished.</source>
        <translation>Остановлено до завершения записи.</translation>
    </message>
</context>
<context>
    <name>LinuxDriveProvider</name>
    <message>
        <source>UDisks2 seems to be unavailable or unaccessible on your system.</source>
        <translation>Похоже, служба UDisks2 недоступна в вашей системе.</translation>
    </message>
</context>
<context>
    <name>PortalFileDialog</name>
    <message>
        <source>Image files</source>
        <translation>Файлы образов</translation>
    </message>
    <message>
        <source>All files</source>
        <translation>Все файлы</translation>
    </message>
    <message>
        <source>Open File</source>
        <translation>Открыть файл</translation>
    </message>
</context>
<context>
    <name>Release</name>
    <message>
        <source>Other</source>
        <translation>Другое</translation>
    </message>
    <message>
        <source>Standart Edition</source>
        <translation>Стандартная редакция</translation>
    </message>
    <message>
        <source>Certify Edition</source>
        <translation>Сертифицированная редакция</translation>
    </message>
    <message>
        <source>Home Edition</source>
        <translation>Домашняя редакция</translation>
    </message>
    <message>
        <source>Education Edition</source>
        <translation>Образовательная редакция</translation>
    </message>
    <message>
        <source>Pick a file from your drive(s)</source>
        <translation>Выберите файл на своём диске</translation>
    </message>
    <message>
        <source>&lt;p&gt;Here you can choose a OS image from your hard drive to be written to your flash disk&lt;/p&gt;&lt;p&gt;Currently it is only supported to write raw disk images (.iso or .bin)&lt;/p&gt;</source>
        <translation>&lt;p&gt;Здесь можно выбрать образ ОС на жёстком диске, чтобы записать его на флеш-накопитель&lt;/p&gt;&lt;p&gt;Сейчас поддерживается запись только необработанных образов дисков (.iso или .bin)&lt;/p&gt;</translation>
    </message>
</context>
<context>
    <name>ReleaseArchitecture</name>
    <message>
        <source>AArch64</source>
        <translation>AArch64</translation>
    </message>
    <message>
        <source>Image for for AArch64 machines</source>
        <translation>Образ для компьютеров AArch64</translation>
    </message>
    <message>
        <source>x86_64</source>
        <translation>x86_64</translation>
    </message>
    <message>
        <source>Image for Intel, AMD and other compatible PCs (64-bit)</source>
        <translation>Образ для компьютеров Intel, AMD и совместимых с ними (64-битный)</translation>
    </message>
    <message>
        <source>x86</source>
        <translation>x86</translation>
    </message>
    <message>
        <source>Image for Intel, AMD and other compatible PCs (32-bit)</source>
        <translation>Образ для компьютеров Intel, AMD и совместимых с ними (32-битный)</translation>
    </message>
    <message>
        <source>ARM v7</source>
        <translation>ARM v7</translation>
    </message>
    <message>
        <source>LZMA-compressed raw image for ARM v7-A machines like the Raspberry Pi 2 and 3</source>
        <translation>Сжатый LZMA необработанный образ для устройств ARM v7-A, таких как Raspberry Pi 2 и 3</translation>
    </message>
</context>
<context>
    <name>ReleaseListModel</name>
    <message>
        <source>Custom image</source>
        <translation>Свой образ</translation>
    </message>
</context>
<context>
    <name>ReleaseVariant</name>
    <message>
        <source>Preparing</source>
        <translation>Подготовка</translation>
    </message>
    <message>
        <source>Downloading</source>
        <translation>Загрузка</translation>
    </message>
    <message>
        <source>Checking the download</source>
        <translation>Проверка загрузки</translation>
    </message>
    <message>
        <source>Ready to write</source>
        <translation>Готово к записи</translation>
    </message>
    <message>
        <source>Image file was saved to your downloads folder. Writing is not possible</source>
        <translation>Файл образа сохранён в папке загрузок. Запись невозможна</translation>
    </message>
    <message>
        <source>Writing</source>
        <translation>Запись</translation>
    </message>
    <message>
        <source>Checking the written data</source>
        <translation>Проверка записанных данных</translation>
    </message>
    <message>
        <source>Finished!</source>
        <translation>Готово!</translation>
    </message>
    <message>
        <source>The written data is corrupted</source>
        <translation>Записанные данные повреждены</translation>
    </message>
    <message>
        <source>Download failed</source>
        <translation>Ошибка загрузки</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Ошибка</translation>
    </message>
    <message>
        <source>The downloaded image is corrupted</source>
        <translation>Загруженный образ повреждён</translation>
    </message>
    <message>
        <source>The downloaded file is not readable.</source>
        <translation>Загруженный файл недоступен для чтения.</translation>
    </message>
    <message>
        <source>Unable to rename the temporary file.</source>
        <translation>Не удалось переименовать временный файл.</translation>
    </message>
    <message>
        <source>The image cannot be downloaded: its file name %1 ends in &quot;.part&quot;, like an unfinished download.</source>
        <translation>Образ нельзя загрузить: имя его файла %1 оканчивается на «.part», как у незавершённой загрузки.</translation>
    </message>
    <message>
        <source>The file %1 in your downloads folder is not the expected image. Move or rename it, then try again.</source>
        <translation>Файл %1 в папке загрузок не является ожидаемым образом. Переместите или переименуйте его и повторите попытку.</translation>
    </message>
</context>
</TS>
