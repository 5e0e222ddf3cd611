<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>CancelDialog</name>
    <message>
        <source>Cancel Download?</source>
        <translation>Отменить загрузку?</translation>
    </message>
    <message>
        <source>Cancel Writing?</source>
        <translation>Отменить запись?</translation>
    </message>
    <message>
        <source>Cancel Verification?</source>
        <translation>Отменить проверку?</translation>
    </message>
    <message>
        <source>Download and media writing will be aborted. This process can be resumed any time later.</source>
        <translation>Загрузка и запись на носитель будут прерваны. Загрузку можно будет продолжить в любое время.</translation>
    </message>
    <message>
        <source>Writing process will be aborted and your drive will have to be restored afterwards.</source>
        <translation>Запись будет прервана, и после этого накопитель придётся восстановить.</translation>
    </message>
    <message>
        <source>This operation is safe to be cancelled.</source>
        <translation>Эту операцию можно безопасно отменить.</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Назад</translation>
    </message>
    <message>
        <source>Abort</source>
        <translation>Прервать</translation>
    </message>
</context>
<context>
    <name>CertPage</name>
    <message>
        <source>Recording Parameter</source>
        <translation>Параметры записи</translation>
    </message>
    <message>
        <source>Certified edition</source>
        <translation>Сертифицированная редакция</translation>
    </message>
    <message>
        <source>Available on request after discussing this issue with the manager. All information on the purchase of a certified edition is available on the website.</source>
        <translation>Предоставляется по запросу после согласования с менеджером. Вся информация о приобретении сертифицированной редакции есть на сайте.</translation>
    </message>
    <message>
        <source>Open on the website</source>
        <translation>Открыть на сайте</translation>
    </message>
</context>
<context>
    <name>DeviceWarningDialog</name>
    <message>
        <source>%1 GB</source>
        <translation>%1 ГБ</translation>
    </message>
    <message>
        <source>%1 MB</source>
        <translation>%1 МБ</translation>
    </message>
    <message>
        <source>%1 KB</source>
        <translation>%1 КБ</translation>
    </message>
    <message>
        <source>%1 Bytes</source>
        <translation>%1 байт</translation>
    </message>
    <message>
        <source>Erase confirmation</source>
        <translation>Подтверждение удаления данных</translation>
    </message>
    <message>
        <source>Attention! All data on the device (including %1) will be permanently deleted. The selected image will be recorded in their place. Continue?</source>
        <translation>Внимание! Все данные на устройстве (всего %1) будут безвозвратно удалены. Вместо них будет записан выбранный образ. Продолжить?</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <source>Write</source>
        <translation>Записать</translation>
    </message>
</context>
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
    <message>
        <source>The image on the server is larger than expected. The download was stopped and its partial file deleted.</source>
        <translation>Образ на сервере больше ожидаемого. Загрузка остановлена, её незавершённый файл удалён.</translation>
    </message>
    <message>
        <source>The server&apos;s answer is larger than 64 MiB.</source>
        <translation>Ответ сервера больше 64 МиБ.</translation>
    </message>
    <message>
        <source>The server&apos;s answer ended before it was complete.</source>
        <translation>Ответ сервера оборвался, не дойдя до конца.</translation>
    </message>
</context>
<context>
    <name>DownloadPage</name>
    <message>
        <source>%1 Successfully Written</source>
        <translation>Образ %1 успешно записан</translation>
    </message>
    <message>
        <source>Writing %1</source>
        <translation>Запись %1</translation>
    </message>
    <message>
        <source>Downloading %1</source>
        <translation>Загрузка %1</translation>
    </message>
    <message>
        <source>Preparing %1</source>
        <translation>Подготовка %1</translation>
    </message>
    <message>
        <source>Ready to write %1</source>
        <translation>Образ %1 готов к записи</translation>
    </message>
    <message>
        <source>Failed to download %1</source>
        <translation>Не удалось загрузить %1</translation>
    </message>
    <message>
        <source>Your drive was unplugged during the process</source>
        <translation>Накопитель был отключён во время работы</translation>
    </message>
    <message>
        <source>The USB drive has been found, and it is possible to continue recording the image to the device.</source>
        <translation>USB-накопитель найден, можно продолжить запись образа на устройство.</translation>
    </message>
    <message>
        <source>To continue recording the image to the device, insert the USB drive.</source>
        <translation>Чтобы продолжить запись образа на устройство, вставьте USB-накопитель.</translation>
    </message>
    <message>
        <source>(%1 B left)</source>
        <translation>(осталось %1 Б)</translation>
    </message>
    <message>
        <source>(%1 KB left)</source>
        <translation>(осталось %1 КБ)</translation>
    </message>
    <message>
        <source>(%1 MB left)</source>
        <translation>(осталось %1 МБ)</translation>
    </message>
    <message>
        <source>(%1 GB left)</source>
        <translation>(осталось %1 ГБ)</translation>
    </message>
    <message>
        <source>Downloads are saved to the downloads folder.</source>
        <translation>Загруженные образы сохраняются в папку «Загрузки».</translation>
    </message>
    <message>
        <source>By writing, you will lose all of the data on %1.</source>
        <translation>При записи все данные на %1 будут потеряны.</translation>
    </message>
    <message>
        <source>Your drive will be resized to a smaller capacity. You may resize it back to normal by using Zelvan Flashwright. This will remove installation media from your drive.</source>
        <translation>Объём накопителя уменьшится. Вернуть прежний объём можно с помощью Zelvan Flashwright, при этом установочный носитель будет удалён с накопителя.</translation>
    </message>
    <message>
        <source>The selected drive&apos;s size is %1. It&apos;s possible you have selected an external drive by accident!</source>
        <translation>Объём выбранного накопителя — %1. Возможно, вы по ошибке выбрали внешний диск!</translation>
    </message>
    <message>
        <source>Restart and boot from %1 to start using %2.</source>
        <translation>Перезагрузите компьютер и загрузитесь с %1, чтобы начать работу с %2.</translation>
    </message>
    <message>
        <source>Show in folder</source>
        <translation>Показать в папке</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <source>Write</source>
        <translation>Записать</translation>
    </message>
    <message>
        <source>Finish</source>
        <translation>Готово</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Повторить</translation>
    </message>
</context>
<context>
    <name>Drive</name>
    <message>
        <source>This drive is not large enough.</source>
        <translation>Этот накопитель слишком мал.</translation>
    </message>
    <message>
        <source>The image file is empty: there is nothing to write.</source>
        <translation>Файл образа пуст: записывать нечего.</translation>
    </message>
    <message>
        <source>The image file is incomplete: it is shorter than the ISO volume it describes.</source>
        <translation>Файл образа неполный: он короче описанного в нём тома ISO.</translation>
    </message>
</context>
<context>
    <name>DriveList</name>
    <message>
        <source>Device</source>
        <translation>Устройство</translation>
    </message>
    <message>
        <source>There are no portable drives connected</source>
        <translation>Съёмные накопители не подключены</translation>
    </message>
</context>
<context>
    <name>DrivePage</name>
    <message>
        <source>Recording Parameter</source>
        <translation>Параметры записи</translation>
    </message>
    <message>
        <source>Image files</source>
        <translation>Образы</translation>
    </message>
    <message>
        <source>All files (*)</source>
        <translation>Все файлы (*)</translation>
    </message>
    <message>
        <source>Selected file</source>
        <translation>Выбранный файл</translation>
    </message>
    <message>
        <source>Not selected</source>
        <translation>Не выбран</translation>
    </message>
    <message>
        <source>Select...</source>
        <translation>Выбрать...</translation>
    </message>
    <message>
        <source>Continue</source>
        <translation>Продолжить</translation>
    </message>
</context>
<context>
    <name>EditionsModel</name>
    <message>
        <source>Standard edition</source>
        <translation>Стандартная редакция</translation>
    </message>
    <message>
        <source>The distribution package contains everything necessary for the work of users and the organization of the server infrastructure.</source>
        <translation>Дистрибутив содержит всё необходимое для работы пользователей и организации серверной инфраструктуры.</translation>
    </message>
    <message>
        <source>Certified edition</source>
        <translation>Сертифицированная редакция</translation>
    </message>
    <message>
        <source>The security features built into the OS comply with the security requirements established by the FSTEC of Russia.</source>
        <translation>Встроенные средства защиты ОС соответствуют требованиям безопасности, установленным ФСТЭК России.</translation>
    </message>
    <message>
        <source>Home edition</source>
        <translation>Домашняя редакция</translation>
    </message>
    <message>
        <source>The distribution kit for home use contains everything necessary for regular user work.</source>
        <translation>Дистрибутив для домашнего использования содержит всё необходимое для повседневной работы.</translation>
    </message>
    <message>
        <source>Educational edition</source>
        <translation>Образовательная редакция</translation>
    </message>
    <message>
        <source>It is designed to organize the educational process and includes all the necessary tools for this.</source>
        <translation>Предназначена для организации учебного процесса и содержит все необходимые для этого инструменты.</translation>
    </message>
</context>
<context>
    <name>EditionsPage</name>
    <message>
        <source>Editions&apos; choice</source>
        <translation>Выбор редакции</translation>
    </message>
</context>
<context>
    <name>FramedPage</name>
    <message>
        <source>Back</source>
        <translation>Назад</translation>
    </message>
</context>
<context>
    <name>Job</name>
    <message>
        <source>The drive is in use by another program. Close that program and try again.</source>
        <translation>Накопитель используется другой программой. Закройте эту программу и повторите попытку.</translation>
    </message>
    <message>
        <source>The drive could not be unmounted: %1</source>
        <translation>Не удалось отмонтировать накопитель: %1</translation>
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
    <message>
        <source>Verification was cancelled: the drive holds the image, but it was not checked.</source>
        <translation>Проверка отменена: образ записан на накопитель, но не проверен.</translation>
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
    <name>MainPage</name>
    <message>
        <source>Writing images to USB Flash</source>
        <translation>Запись образов на USB-накопитель</translation>
    </message>
    <message>
        <source>Selecting an image source</source>
        <translation>Выбор источника образа</translation>
    </message>
    <message>
        <source>Download from the website</source>
        <translation>Загрузить с сайта</translation>
    </message>
    <message>
        <source>Select from device</source>
        <translation>Выбрать файл с устройства</translation>
    </message>
    <message>
        <source>Restore USB Flash</source>
        <translation>Восстановить USB-накопитель</translation>
    </message>
    <message>
        <source>A connection to the server is being established, and downloading from the site is not possible. Please wait or start downloading from your device.</source>
        <translation>Идёт подключение к серверу, загрузка с сайта пока невозможна. Подождите или выберите файл образа на устройстве.</translation>
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
<context>
    <name>ReleaseVersion</name>
    <message>
        <source>%1 Release Candidate</source>
        <translation>%1, релиз-кандидат</translation>
    </message>
    <message>
        <source>%1 Beta</source>
        <translation>%1, бета-версия</translation>
    </message>
    <message>
        <source>%1 Alpha</source>
        <translation>%1, альфа-версия</translation>
    </message>
</context>
<context>
    <name>RestoreJob</name>
    <message>
        <source>Failed to open device for writing</source>
        <translation>Не удалось открыть устройство для записи</translation>
    </message>
    <message>
        <source>Destination drive is not writable</source>
        <translation>Запись на целевой накопитель невозможна</translation>
    </message>
    <message>
        <source>Failed to get file size</source>
        <translation>Не удалось определить размер файла</translation>
    </message>
    <message>
        <source>Failed to sync data to disk</source>
        <translation>Не удалось сбросить данные на диск</translation>
    </message>
    <message>
        <source>The new partition table did not appear on the drive.</source>
        <translation>Новая таблица разделов так и не появилась на накопителе.</translation>
    </message>
    <message>
        <source>The new partition did not appear on the drive.</source>
        <translation>Новый раздел так и не появился на накопителе.</translation>
    </message>
</context>
<context>
    <name>RestorePage</name>
    <message>
        <source>Restore %1</source>
        <translation>Восстановление %1</translation>
    </message>
    <message>
        <source>Restoring finished</source>
        <translation>Восстановление успешно выполнено!</translation>
    </message>
    <message>
        <source>Do you want to restore the factory settings?</source>
        <translation>Восстановить заводские настройки?</translation>
    </message>
    <message>
        <source>In order to return all available space on the device, you need to restore the factory settings of the USB Flash drive. The live system and all saved data will be deleted.</source>
        <translation>Чтобы вернуть весь доступный объём устройства, нужно восстановить заводские настройки USB-накопителя. Live-система и все сохранённые данные будут удалены.</translation>
    </message>
    <message>
        <source>You don&apos;t need to restore the device if you want to burn another live system to it.</source>
        <translation>Восстанавливать устройство не нужно, если вы хотите записать на него другую live-систему.</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>Восстановить</translation>
    </message>
    <message>
        <source>Unfortunately, an error occurred during the process. Please try restoring the drive using your system tools.</source>
        <translation>К сожалению, во время работы произошла ошибка. Попробуйте восстановить накопитель средствами системы.</translation>
    </message>
    <message>
        <source>Wait for Zelvan Flashwright to restore your device</source>
        <translation>Подождите, пока Zelvan Flashwright восстановит устройство</translation>
    </message>
    <message>
        <source>Finish</source>
        <translation>Готово</translation>
    </message>
</context>
<context>
    <name>VersionPage</name>
    <message>
        <source>Recording Parameter</source>
        <translation>Параметры записи</translation>
    </message>
    <message>
        <source>Version</source>
        <translation>Версия</translation>
    </message>
    <message>
        <source>Zelvan 8.0</source>
        <translation>Zelvan 8.0</translation>
    </message>
    <message>
        <source>Zelvan 7.3</source>
        <translation>Zelvan 7.3</translation>
    </message>
    <message>
        <source>Architecture</source>
        <translation>Архитектура</translation>
    </message>
    <message>
        <source>Image</source>
        <translation>Образ</translation>
    </message>
    <message>
        <source>Delete download after writing</source>
        <translation>Удалить загруженный образ после записи</translation>
    </message>
    <message>
        <source>Continue</source>
        <translation>Продолжить</translation>
    </message>
</context>
<context>
    <name>WriteJob</name>
    <message>
        <source>Source image is not readable</source>
        <translation>Не удаётся прочитать исходный образ</translation>
    </message>
    <message>
        <source>Destination drive is not writable</source>
        <translation>Запись на целевой накопитель невозможна</translation>
    </message>
    <message>
        <source>Failed to start decompressing.</source>
        <translation>Не удалось начать распаковку.</translation>
    </message>
    <message>
        <source>There is not enough memory to decompress the file.</source>
        <translation>Недостаточно памяти для распаковки файла.</translation>
    </message>
    <message>
        <source>The downloaded compressed file is corrupted.</source>
        <translation>Загруженный сжатый файл повреждён.</translation>
    </message>
    <message>
        <source>Unsupported compression options.</source>
        <translation>Неподдерживаемые параметры сжатия.</translation>
    </message>
    <message>
        <source>Unknown decompression error.</source>
        <translation>Неизвестная ошибка распаковки.</translation>
    </message>
    <message>
        <source>Unexpected error occurred during media check.</source>
        <translation>При проверке носителя произошла непредвиденная ошибка.</translation>
    </message>
    <message>
        <source>Verification failed: the data read back from the drive differs from the image.</source>
        <translation>Проверка не пройдена: данные, прочитанные с накопителя, отличаются от образа.</translation>
    </message>
    <message>
        <source>The image is empty: there is nothing to write.</source>
        <translation>Образ пуст: записывать нечего.</translation>
    </message>
    <message>
        <source>The zip archive holds no file: there is nothing to write.</source>
        <translation>В zip-архиве нет ни одного файла: записывать нечего.</translation>
    </message>
    <message>
        <source>The zip archive holds %1 files. Only an archive that holds exactly one file, the image, can be written: unpack it and choose the image.</source>
        <translation>В zip-архиве файлов: %1. Записать можно только архив, в котором ровно один файл — образ: распакуйте архив и выберите образ.</translation>
    </message>
    <message>
        <source>Note: the image is compressed with %1 although its name does not say so; it was decompressed while it was written.</source>
        <translation>Примечание: образ сжат с помощью %1, хотя по его имени этого не видно; при записи он был распакован.</translation>
    </message>
    <message>
        <source>The image file is incomplete: it is shorter than the ISO volume it describes.</source>
        <translation>Файл образа неполный: он короче тома ISO, который в нём описан.</translation>
    </message>
    <message>
        <source>The image does not match the checksum implanted in it: the image file is damaged.</source>
        <translation>Образ не совпадает со встроенной в него контрольной суммой: файл образа повреждён.</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Zelvan Flashwright</source>
        <translation>Zelvan Flashwright</translation>
    </message>
    <message>
        <source>Select Zelvan Version</source>
        <translation>Выбор версии Zelvan</translation>
    </message>
    <message>
        <source>Select Drive</source>
        <translation>Выбор накопителя</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>Восстановление</translation>
    </message>
    <message>
        <source>Certified edition</source>
        <translation>Сертифицированная редакция</translation>
    </message>
</context>
</TS>
