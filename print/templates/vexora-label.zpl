^XA
^FX Vexora example label: 50 x 30 mm at 203 dpi (8 dots a millimetre).
^FX The station fills the record number, the code text and the picture path
^FX into the fields that name them; see the README.
^CI28
^PW400
^LL240
^LH0,0
^FO24,16^A0N,30,30^FDNo. {sjy-bh}^FS
^FO24,56^BY2,3,100^BCN,100,Y,N,N^FD{sjy-tt}^FS
^FO24,204^A0N,20,20^FD{sjy-pic}^FS
^XZ
