# The dictionaries and their licence are data, which PyInstaller leaves out of a bundle unless asked.
from PyInstaller.utils.hooks import collect_data_files

datas = collect_data_files("pytarntext_dictionaries")
