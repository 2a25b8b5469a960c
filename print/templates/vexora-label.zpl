^XA
^FX Vexora example label: 50 x 30 mm at 203 dpi (8 dots a millimetre).
^FX The station fills the record number, the code text and the picture path
^FX into the fields that name them; see the README.
^FX The bar code takes a code of up to 30 characters: bars one dot wide
^FX (module width 1, 0.125 mm), in automatic mode (A), which packs runs of digits two
^FX to a bar and takes every printable character as it is.
^CI28
^PW400
^LL240
^LH0,0
^FO16,16^A0N,30,30^FDNo. {sjy-bh}^FS
^FO16,56^BY1,3,100^BCN,100,Y,N,N,A^FD{sjy-tt}^FS
^FO16,204^A0N,20,20^FD{sjy-pic}^FS
^XZ
