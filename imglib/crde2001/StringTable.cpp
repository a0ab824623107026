// Texts of the module's error numbers, shown to the user by the program.
#include "imglib.h"

#define IL_ID(number) static_cast<uint16_t>(number)

extern "C" IMGLIB_API const ILStringEntry ILStringTable[] = {
    {IL_ID(IL_ERR_OPEN), "Не удалось открыть файл изображения"},
    {IL_ID(IL_ERR_FORMAT), "Формат файла не распознан"},
    {IL_ID(IL_ERR_CORRUPT), "Файл изображения повреждён или обрезан"},
    {IL_ID(IL_ERR_TOO_LARGE), "Изображение слишком велико"},
    {IL_ID(IL_ERR_MEMORY), "Недостаточно памяти для изображения"},
    {IL_ID(IL_ERR_CANCELLED), "Обработка изображения прервана"},
    {IL_ID(IL_ERR_UNSUPPORTED), "Этот формат изображения не поддерживается"},
    {IL_ID(IL_ERR_WRITE), "Не удалось записать файл изображения"},
    {IL_ID(IL_ERR_ARGUMENT), "Неверные параметры изображения"},
    {IL_ID(IL_ERR_PAGE), "В файле нет такой страницы"},
    {0, nullptr},
};
