/* Corvantis skin: a Qt style sheet applied to the main window when this file ships
   beside the program. It styles the frame and the controls; the sheet's cells keep
   their white and the headings their grey. */

QPushButton {
    background-color: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #fbfcfd, stop:1 #e4e9ef);
    border: 1px solid #9aa7b5;
    border-radius: 4px;
    color: #1d2b3a;
    padding: 2px 10px;
}
QPushButton:hover {
    background-color: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #d6e6f5);
    border-color: #4a7fb5;
}
QPushButton:pressed {
    background-color: #c5d9ee;
    border-color: #2f5f8f;
}
QPushButton:focus {
    border: 1px solid #2f6db0;
}

QGroupBox {
    border: 1px solid #b3bfcc;
    border-radius: 4px;
    margin-top: 8px;
}
QGroupBox::title {
    subcontrol-origin: margin;
    left: 8px;
    padding: 0 4px;
    color: #1d2b3a;
}

QDateEdit {
    border: 1px solid #9aa7b5;
    border-radius: 3px;
    background: #ffffff;
    padding: 1px 4px;
}
QDateEdit:focus {
    border-color: #2f6db0;
}

QScrollBar:vertical {
    background: #eef1f4;
    width: 16px;
    margin: 16px 0 16px 0;
    border: none;
}
QScrollBar::handle:vertical {
    background: #b8c3cf;
    min-height: 24px;
    border-radius: 4px;
    margin: 0 3px;
}
QScrollBar::handle:vertical:hover {
    background: #8fa1b4;
}
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical {
    background: #e2e7ec;
    height: 16px;
    subcontrol-origin: margin;
}
QScrollBar::add-line:vertical { subcontrol-position: bottom; }
QScrollBar::sub-line:vertical { subcontrol-position: top; }
