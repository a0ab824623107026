# Снимкорез: бегущая строка (.SCM), UTF-8, строки «ключ=значение».
# Ключи: font.color, font.height, font.name, font.size, font.style,
# background, speed, text (ровно один).
font.color=#FFD700
font.name=DejaVu Sans
font.size=20
font.style=bold
background=#000080
speed=1
text=Продаю диван, почти новый — самовывоз с Набережной, Ялта
