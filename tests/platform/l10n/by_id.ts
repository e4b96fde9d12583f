<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_GB">
<context>
    <name></name>
    <message id="conn.title">
        <source>Подключение</source>
        <translation>Connection</translation>
    </message>
    <message id="error.server">
        <source>Ошибка сервера (%d).</source>
        <translation>Server error (%d).</translation>
    </message>
</context>
</TS>
