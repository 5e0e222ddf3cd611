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
</TS>
